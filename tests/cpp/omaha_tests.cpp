// Tests of the Omaha engine in C++: weighted exact sums and Monte Carlo that
// do not depend on the thread count, progress reports, cancellation, and
// malformed requests refused.
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "check.hpp"
#include "equity_engine/omaha_equity.hpp"
#include "equity_engine/parallel_runner.hpp"

namespace {

using test_support::failed;
using test_support::passed;

using namespace tavrix::equity;

const KeepGoing always = [] { return true; };

OmahaRequest ranges_on_a_turn(bool high_low) {
    OmahaRequest request;
    request.high_low = high_low;
    request.board = {18, 20, 25, 32};  // 6h 7c 8d Tc
    // As2h3dKs against three hands weighted 0.1, 0.3 and 0.7, and a random player.
    request.players.push_back({{51, 2, 5, 47}, {1.0}, false});
    request.players.push_back({{49, 0, 10, 12, 45, 44, 42, 37, 13, 14, 1, 4}, {0.1, 0.3, 0.7}, false});
    request.players.push_back({{}, {}, true});
    return request;
}

void exact_sums_do_not_depend_on_threads() {
    for (const bool high_low : {false, true}) {
        const OmahaRequest request = ranges_on_a_turn(high_low);
        const OmahaTotals one = omaha_exact_equity(request, 1, always);
        for (const unsigned threads : {2u, 5u}) {
            const OmahaTotals more = omaha_exact_equity(request, threads, always);
            CHECK(more.pot.shares == one.pot.shares && more.pot.boards == one.pot.boards);
            CHECK(more.low_wins == one.low_wins && more.high_ties == one.high_ties);
        }
        double shares = 0;
        for (const double s : one.pot.shares) shares += s;
        CHECK(shares / (POT_UNITS * one.pot.boards) > 1 - 1e-12 && shares / (POT_UNITS * one.pot.boards) < 1 + 1e-12);
    }
}

void monte_carlo_does_not_depend_on_threads() {
    const OmahaRequest request = ranges_on_a_turn(true);
    const OmahaTotals one = omaha_monte_carlo_equity(request, 150'001, 3, 1, always);
    const OmahaTotals two = omaha_monte_carlo_equity(request, 150'001, 3, 2, always);
    CHECK(one.pot.boards == 150'001 && one.pot.wins == two.pot.wins && one.pot.share_squares == two.pot.share_squares);
    CHECK(one.low_ties == two.low_ties && omaha_monte_carlo_equity(request, 150'001, 4, 2, always).pot.wins != one.pot.wins);
}

void progress_is_reported_and_can_stop_a_run() {
    OmahaRequest request = ranges_on_a_turn(false);
    request.board.clear();
    request.players[2] = {{41, 40, 37, 33}, {1.0}, false};
    std::vector<std::size_t> done;
    std::size_t total = 0;
    omaha_exact_equity(request, 2, always, [&](std::size_t d, std::size_t t) {
        done.push_back(d);
        total = t;
        return true;
    });
    CHECK(!done.empty() && done.front() == 0 && done.back() == total && total > 0);
    bool cancelled = false;
    try {
        omaha_exact_equity(request, 2, always, [](std::size_t d, std::size_t) { return d == 0; });
    } catch (const Cancelled&) {
        cancelled = true;
    }
    CHECK(cancelled);
}

void bad_requests_are_refused() {
    std::vector<OmahaRequest> bad(5, ranges_on_a_turn(true));
    bad[0].hole_cards = 3;                       // hands of three cards
    bad[1].players[0].cards[1] = 51;             // a card twice in one hand
    bad[2].players[2].cards = {1, 2, 3, 4};      // a random player that lists cards
    bad[3].players[1].weights[0] = -1;           // a negative weight
    bad[4].players.resize(1);                    // one player
    int refused = 0;
    for (const OmahaRequest& request : bad) {
        try {
            omaha_exact_equity(request, 1, always);
        } catch (const std::invalid_argument&) {
            ++refused;
        }
    }
    CHECK(refused == 5);
}

}  // namespace

int main() {
    exact_sums_do_not_depend_on_threads();
    monte_carlo_does_not_depend_on_threads();
    progress_is_reported_and_can_stop_a_run();
    bad_requests_are_refused();
    std::printf("omaha tests: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
