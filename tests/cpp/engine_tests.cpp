// Tests of the equity engine in C++: the figures a Python caller relies on,
// independent of the thread count, and cancellation that ends every worker.
#include <cstdio>
#include <stdexcept>
#include <thread>

#include "check.hpp"
#include "equity_engine/equity_runs.hpp"
#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/random_deal.hpp"

#include <cstdint>
#include <vector>

namespace {

using test_support::failed;
using test_support::passed;

using namespace tavrix::equity;

const KeepGoing always = [] { return true; };

EquityRequest hands(std::initializer_list<Combo> combos) {
    EquityRequest request;
    for (const Combo c : combos) request.players.push_back({{c}, {1.0}});
    return request;
}

void exact_preflop_figures() {
    // AsKs (51, 47) against QhQd (42, 41).
    const EquityRequest request = hands({{51, 47}, {42, 41}});
    for (unsigned threads : {1u, 2u, 5u}) {
        const EquityTotals t = exact_equity(request, threads, always);
        CHECK(t.boards == 1712304 && t.wins[0] == 787966 && t.wins[1] == 917606);
        CHECK(t.ties[0] == 6732 && t.ties[1] == 6732);
        CHECK(t.shares[0] == 2520.0 * 787966 + 1260.0 * 6732);
    }
    std::uint8_t rows[4] = {51, 47, 42, 41};
    std::uint64_t counts[3];
    heads_up_counts(rows, 1, counts, 1, always);
    CHECK(counts[0] == 787966 && counts[1] == 917606 && counts[2] == 6732);
}

void monte_carlo_independent_of_threads() {
    EquityRequest request = hands({{51, 47}, {42, 41}, {3, 2}});
    request.board = {0, 20};
    const EquityTotals one = monte_carlo_equity(request, 200'001, 7, 1, always);
    const EquityTotals two = monte_carlo_equity(request, 200'001, 7, 2, always);
    CHECK(one.boards == 200'001 && one.wins == two.wins && one.share_squares == two.share_squares);
    const EquityTotals other = monte_carlo_equity(request, 200'001, 8, 2, always);
    CHECK(other.wins != one.wins);
}

void cancellation_stops_workers() {
    bool thrown = false;
    int polls = 0;
    try {
        run_parallel(1'000'000, 2, [](std::size_t) { std::this_thread::sleep_for(std::chrono::microseconds(100)); },
                     [&] { return ++polls < 3; }, 5);
    } catch (const Cancelled&) {
        thrown = true;
    }
    CHECK(thrown && polls == 3);
}

void bad_requests_are_refused() {
    int refused = 0;
    for (const EquityRequest& request : {hands({{51, 47}}), hands({{51, 47}, {51, 41}}), hands({{51, 47}, {52, 41}})}) {
        try {
            exact_equity(request, 1, always);
        } catch (const std::invalid_argument&) {
            ++refused;
        }
    }
    CHECK(refused == 3);
}

void random_deals_depend_on_the_seed_alone() {
    // Rows span several blocks, so threads really split the work.
    constexpr std::size_t rows = 3 * DEAL_ROWS_PER_BLOCK + 5, width = 9;
    constexpr std::uint64_t excluded = (std::uint64_t{1} << 51) | (std::uint64_t{1} << 0);
    std::vector<std::uint8_t> one(rows * width), three(rows * width);
    deal_random_rows(one.data(), rows, width, excluded, 11, 1, always);
    deal_random_rows(three.data(), rows, width, excluded, 11, 3, always);
    CHECK(one == three);
    bool sound = true;
    for (std::size_t row = 0; row < rows; ++row) {
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::uint64_t bit = std::uint64_t{1} << one[row * width + i];
            sound = sound && one[row * width + i] < 52 && !(seen & bit) && !(excluded & bit);
            seen |= bit;
        }
    }
    CHECK(sound);
    deal_random_rows(three.data(), rows, width, excluded, 12, 2, always);
    CHECK(one != three);
    bool refused = false;
    try {
        deal_random_rows(one.data(), 1, 51, excluded, 1, 1, always);
    } catch (const std::invalid_argument&) {
        refused = true;
    }
    CHECK(refused);
}

}  // namespace

int main() {
    exact_preflop_figures();
    monte_carlo_independent_of_threads();
    cancellation_stops_workers();
    bad_requests_are_refused();
    random_deals_depend_on_the_seed_alone();
    std::printf("engine tests: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
