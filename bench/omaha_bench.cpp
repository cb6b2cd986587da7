// Omaha in the engine alone: scoring rows of hole cards on boards, exact
// heads-up equity on a flop and preflop, and Monte Carlo throughput, for the
// high and the high-low games; median of 5 runs each, one thread.
#include <algorithm>
#include <ctime>
#include <cstdio>
#include <random>
#include <vector>

#include "equity_engine/omaha_equity.hpp"
#include "equity_engine/omaha_scoring.hpp"

using namespace tavrix::equity;

namespace {

const KeepGoing always = [] { return true; };

double cpu_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// The median of 5 runs of the process's CPU time: on a shared machine the
// wall-clock time of one thread also counts the time others held the core.
// Every run here uses one worker thread, and the waiting thread sleeps.
template <typename Run>
double median_seconds(Run&& run) {
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        const double start = cpu_seconds();
        run();
        times.push_back(cpu_seconds() - start);
    }
    std::sort(times.begin(), times.end());
    return times[2];
}

// Rows of `width` hole cards and five board cards, all distinct within a row.
void random_rows(std::size_t rows, int width, std::vector<std::uint8_t>& holes, std::vector<std::uint8_t>& boards) {
    std::mt19937_64 generator(7);
    std::vector<std::uint8_t> deck(52);
    for (int c = 0; c < 52; ++c) deck[c] = static_cast<std::uint8_t>(c);
    holes.clear();
    boards.clear();
    for (std::size_t r = 0; r < rows; ++r) {
        for (int i = 0; i < width + 5; ++i) std::swap(deck[i], deck[i + generator() % (52 - i)]);
        holes.insert(holes.end(), deck.begin(), deck.begin() + width);
        boards.insert(boards.end(), deck.begin() + width, deck.begin() + width + 5);
    }
}

OmahaRequest heads_up(bool high_low, std::vector<std::uint8_t> board) {
    OmahaRequest request;
    request.high_low = high_low;
    request.board = std::move(board);
    // AsAhKsKh against QdQcJdTc (hi-lo: As2h3dKs against Ad2c4h5c).
    const std::vector<std::uint8_t> a = high_low ? std::vector<std::uint8_t>{51, 2, 5, 47}
                                                 : std::vector<std::uint8_t>{51, 50, 47, 46};
    const std::vector<std::uint8_t> b = high_low ? std::vector<std::uint8_t>{49, 0, 10, 12}
                                                 : std::vector<std::uint8_t>{41, 40, 37, 33};
    request.players.push_back({a, {1.0}, false});
    request.players.push_back({b, {1.0}, false});
    return request;
}

}  // namespace

int main() {
    constexpr std::size_t rows = 1'000'000;
    std::vector<std::uint8_t> holes, boards;
    std::vector<std::uint16_t> highs(rows), lows(rows);
    for (const int width : {4, 5, 6}) {
        random_rows(rows, width, holes, boards);
        for (const bool low : {false, true}) {
            const double s = median_seconds([&] {
                score_omaha_rows(holes.data(), rows, width, boards.data(), false, highs.data(),
                                 low ? lows.data() : nullptr, 1, always);
            });
            std::printf("Omaha-%d %-9s scoring, own board per row, 1 thread   %7.1f ns/row\n", width,
                        low ? "high-low" : "high", s * 1e9 / rows);
        }
    }
    // Flop: 2s 7h 9d; for hi-lo 6h 7c 8d, which leaves lows possible.
    for (const bool high_low : {false, true}) {
        const char* game = high_low ? "high-low" : "high    ";
        const OmahaRequest flop = heads_up(high_low, high_low ? std::vector<std::uint8_t>{18, 20, 25}
                                                              : std::vector<std::uint8_t>{3, 22, 29});
        const OmahaRequest preflop = heads_up(high_low, {});
        omaha_exact_equity(flop, 1, always);  // loads the tables
        const double s_flop = median_seconds([&] { omaha_exact_equity(flop, 1, always); });
        const double s_pre = median_seconds([&] { omaha_exact_equity(preflop, 1, always); });
        constexpr std::uint64_t trials = 2'000'000;
        const double s_mc = median_seconds([&] { omaha_monte_carlo_equity(preflop, trials, 1, 1, always); });
        std::printf("Omaha-4 %s exact heads-up on a flop (820 boards), 1 thread   %8.3f ms\n", game, s_flop * 1e3);
        std::printf("Omaha-4 %s exact heads-up preflop, 1 thread                  %8.3f s\n", game, s_pre);
        std::printf("Omaha-4 %s Monte Carlo heads-up, 1 thread          %8.1f M player-hands/s\n", game,
                    2.0 * trials / s_mc / 1e6);
    }
    return 0;
}
