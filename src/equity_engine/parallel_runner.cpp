#include "equity_engine/parallel_runner.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace tavrix::equity {
namespace {

// The stop flag of the run a worker thread serves; null on other threads.
thread_local const std::atomic<bool>* worker_stop = nullptr;
// Where the runs started on this thread count their items; null when no one asks.
thread_local ProgressCount* thread_progress = nullptr;

}  // namespace

ProgressScope::ProgressScope(ProgressCount& count) noexcept : outer_(thread_progress) { thread_progress = &count; }
ProgressScope::~ProgressScope() { thread_progress = outer_; }

bool stop_requested() noexcept { return worker_stop != nullptr && worker_stop->load(std::memory_order_relaxed); }

void run_parallel(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& work,
                  const std::function<bool()>& keep_going, unsigned poll_interval_ms) {
    std::atomic<std::size_t> next_item{0};
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable finished;
    unsigned running = 0;
    std::exception_ptr failure;
    ProgressCount* const progress = thread_progress;
    if (progress) progress->total.fetch_add(count, std::memory_order_relaxed);

    auto worker = [&] {
        worker_stop = &stop;
        try {
            for (;;) {
                if (stop.load(std::memory_order_relaxed)) break;
                const std::size_t item = next_item.fetch_add(1, std::memory_order_relaxed);
                if (item >= count) break;
                work(item);
                if (progress) progress->done.fetch_add(1, std::memory_order_relaxed);
            }
        } catch (const Cancelled&) {
            // An item that saw the stop: the reason is the cancellation or
            // another item's failure, recorded where it happened.
        } catch (...) {
            stop.store(true);
            const std::lock_guard lock(mutex);
            if (!failure) failure = std::current_exception();
        }
        worker_stop = nullptr;
        const std::lock_guard lock(mutex);
        if (--running == 0) finished.notify_all();
    };

    if (threads == 0) threads = 1;
    if (threads > count) threads = count == 0 ? 1 : static_cast<unsigned>(count);
    std::vector<std::jthread> pool;
    pool.reserve(threads);
    running = threads;
    bool cancelled = false;
    try {
        for (unsigned i = 0; i < threads; ++i) pool.emplace_back(worker);
    } catch (...) {
        // Threads that did start must end before the locals they use go away.
        stop.store(true);
        {
            const std::lock_guard lock(mutex);
            running -= threads - static_cast<unsigned>(pool.size());
        }
        pool.clear();
        throw;
    }
    {
        std::unique_lock lock(mutex);
        while (running > 0) {
            if (finished.wait_for(lock, std::chrono::milliseconds(poll_interval_ms), [&] { return running == 0; }))
                break;
            if (cancelled) continue;
            lock.unlock();
            bool go_on = false;
            try {
                go_on = keep_going();
            } catch (...) {
                stop.store(true);
                pool.clear();
                throw;
            }
            lock.lock();
            if (!go_on) {
                cancelled = true;
                stop.store(true);
            }
        }
    }
    pool.clear();  // joins
    if (failure) std::rethrow_exception(failure);
    if (cancelled) throw Cancelled();
}

}  // namespace tavrix::equity
