// The equity engine alone, with no Python in the way: exact heads-up preflop
// enumeration and Monte Carlo throughput, median of 5 runs each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "equity_engine/equity_runs.hpp"

using namespace tavrix::equity;

namespace {

const KeepGoing always = [] { return true; };

template <typename Run>
double median_seconds(Run&& run) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[2];
}

EquityRequest hands(std::initializer_list<Combo> combos) {
    EquityRequest request;
    for (const Combo c : combos) request.players.push_back({{c}, {1.0}});
    return request;
}

}  // namespace

int main() {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const EquityRequest heads_up = hands({{51, 47}, {42, 41}});
    exact_equity(heads_up, 1, always);  // loads the tables
    for (unsigned threads : {1u, cores}) {
        const double s = median_seconds([&] { exact_equity(heads_up, threads, always); });
        std::printf("exact AsKs vs QhQd, %u thread(s)          %8.2f ms   %7.1f M hands/s\n", threads, s * 1e3,
                    2 * 1712304 / s / 1e6);
    }
    const EquityRequest six = hands({{51, 47}, {42, 41}, {3, 2}, {36, 32}, {19, 23}, {10, 14}});
    constexpr std::uint64_t trials = 2'000'000;
    for (const auto* request : {&heads_up, &six}) {
        const double players = static_cast<double>(request->players.size());
        const double s = median_seconds([&] { monte_carlo_equity(*request, trials, 1, 1, always); });
        std::printf("Monte Carlo, %d players, 1 thread          %8.2f ms   %7.1f M player-hands/s\n",
                    static_cast<int>(players), s * 1e3, trials * players / s / 1e6);
    }
    return 0;
}
