// Runs independent work items on worker threads while the calling thread
// polls for cancellation. No thread outlives the call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>

namespace tavrix::equity {

// Thrown by run_parallel when `keep_going` returned false.
class Cancelled : public std::runtime_error {
public:
    Cancelled() : std::runtime_error("cancelled") {}
};

// Items 0..count-1 go to `threads` workers in any order; `work(item)` must
// write only to that item's own slots. Every `poll_interval_ms` the calling
// thread calls `keep_going()`; when it returns false the workers stop after
// their current item and Cancelled is thrown. An exception from `work` stops
// the run and is rethrown here after every worker has ended.
void run_parallel(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& work,
                  const std::function<bool()>& keep_going, unsigned poll_interval_ms = 50);

// Items finished and items started by the runs made on one thread while a
// ProgressScope for it is alive: the caller reads them when it polls, to
// report progress without any worker touching the caller's world.
struct ProgressCount {
    std::atomic<std::uint64_t> done{0};
    std::atomic<std::uint64_t> total{0};
};

// While alive, every run_parallel on the constructing thread counts into `count`.
class ProgressScope {
public:
    explicit ProgressScope(ProgressCount& count) noexcept;
    ~ProgressScope();
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;

private:
    ProgressCount* outer_;
};

// Whether the run the calling worker serves is stopping (cancelled, or another
// item failed). An item that can take long polls it and throws Cancelled,
// which ends that item without counting as a failure of its own.
bool stop_requested() noexcept;

}  // namespace tavrix::equity
