// The hand indexer alone, with no Python in the way: index and unindex of
// random river states on one thread, median of 5 runs, beside their targets.
// The rate is also given per second of the process's CPU time (one worker
// thread does the work), which other work on a shared machine does not dilute.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "equity_engine/hand_index_rows.hpp"
#include "equity_engine/hand_indexer.hpp"
#include "equity_engine/random.hpp"

using namespace tavrix::equity;

namespace {

const KeepGoing always = [] { return true; };

double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

struct Times {
    double wall, cpu;
};

template <typename Run>
Times median_seconds(Run&& run) {
    std::vector<double> walls, cpus;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu_start = cpu_seconds();
        run();
        cpus.push_back(cpu_seconds() - cpu_start);
        walls.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return {walls[2], cpus[2]};
}

void report(const char* name, std::size_t count, Times times, double target) {
    const double rate = static_cast<double>(count) / times.wall / 1e6;
    const double cpu_rate = static_cast<double>(count) / times.cpu / 1e6;
    std::printf("%-40s %8.2f ms  %6.1f M states/s (%6.1f per CPU second)  [%s: at least %.0f M/s]\n", name,
                times.wall * 1e3, rate, cpu_rate, rate >= target ? "ok" : "MISSED", target);
}

}  // namespace

int main() {
    constexpr std::size_t count = 4'000'000;
    const HandIndexer& river = HandIndexer::of(Round::river);
    BlockRandom random(1, 0);
    std::vector<std::uint8_t> cards(count * 7);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint64_t dealt = 0;
        for (std::size_t k = 0; k < 7;) {
            const std::uint32_t card = random.below(52);
            if (dealt >> card & 1) continue;
            dealt |= std::uint64_t{1} << card;
            cards[i * 7 + k++] = static_cast<std::uint8_t>(card);
        }
    }
    std::vector<std::uint64_t> indices(count);
    report("index, random river states, 1 thread", count, median_seconds([&] {
               index_rows(river, cards.data(), count, indices.data(), 1, always);
           }), 30);
    for (auto& index : indices) index = random.next() % river.size();
    report("unindex, random river indices, 1 thread", count, median_seconds([&] {
               unindex_rows(river, indices.data(), count, cards.data(), 1, always);
           }), 10);
    return 0;
}
