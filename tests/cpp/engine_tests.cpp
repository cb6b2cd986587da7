// Tests of the equity engine in C++: the figures a Python caller relies on,
// independent of the thread count, and cancellation that ends every worker.
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "check.hpp"
#include "equity_engine/equity_runs.hpp"
#include "equity_engine/hand_index_rows.hpp"
#include "equity_engine/hand_strength.hpp"
#include "equity_engine/hand_indexer.hpp"
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

// Index and unindex are inverse over a stride of every round, and a bad row
// is reported at its place whatever the thread count.
void hand_indexer_round_trips() {
    const std::uint64_t sizes[] = {169, 1'286'792, 55'190'538, 2'428'287'420};
    for (int r = 0; r < 4; ++r) {
        const HandIndexer& indexer = HandIndexer::of(static_cast<Round>(r));
        CHECK(indexer.size() == sizes[r]);
        std::uint8_t cards[MAX_STATE_CARDS];
        int wrong = 0;
        for (std::uint64_t i = 0; i < indexer.size(); i += 1 + indexer.size() / 100'000) {
            indexer.unindex(i, cards);
            wrong += indexer.index(cards) != i;
        }
        CHECK(wrong == 0);
    }
    const HandIndexer& river = HandIndexer::of(Round::river);
    std::vector<std::uint8_t> rows(7 * 200'000);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<std::uint8_t>((i * 7 + i / 7) % 52);
    rows[7 * 150'001 + 3] = rows[7 * 150'001];
    std::vector<std::uint64_t> out(200'000);
    for (unsigned threads : {1u, 3u}) {
        const auto bad = index_rows(river, rows.data(), 200'000, out.data(), threads, always);
        CHECK(bad && bad->row == 150'001 && bad->reason.find("appears twice") != std::string::npos);
    }
    const std::uint64_t indices[] = {0, river.size()};
    std::uint8_t cards[14];
    CHECK(unindex_rows(river, indices, 2, cards, 1, always) == std::optional<std::size_t>(1));
}

// The sweep of a board (every combo at once) against the walk of each state
// (every opponent combo one by one): two ways to the same integers.
void board_sweep_matches_state_walk() {
    for (const std::vector<std::uint8_t>& board : {std::vector<std::uint8_t>{0, 5, 10, 40, 51},
                                                  std::vector<std::uint8_t>{3, 7, 11, 15}}) {
        const std::size_t combos = board_combos(board.size());
        std::vector<std::uint64_t> sum(combos), squares(combos), hist(combos * 7), done(combos);
        board_strength(board.data(), 1, board.size(), {sum.data(), squares.data(), hist.data(), done.data(), 7}, 2,
                       always);
        std::vector<std::uint8_t> states;
        for (unsigned a = 0, slot = 0; a < 52; ++a)
            for (unsigned b = a + 1; b < 52; ++b) {
                bool free = true;
                for (const std::uint8_t c : board) free = free && c != a && c != b;
                if (!free) continue;
                if (slot++ % 97 != 0) continue;  // a spread of combos, not all
                states.push_back(static_cast<std::uint8_t>(a));
                states.push_back(static_cast<std::uint8_t>(b));
                states.insert(states.end(), board.begin(), board.end());
            }
        const std::size_t rows = states.size() / (board.size() + 2);
        std::vector<std::uint64_t> s(rows), q(rows), h(rows * 7), n(rows);
        CHECK(!state_strength(states.data(), rows, board.size() + 2, {s.data(), q.data(), h.data(), n.data(), 7}, 1,
                              always));
        for (std::size_t r = 0, slot = 0; r < rows; ++r, slot += 97) {
            CHECK(s[r] == sum[slot] && q[r] == squares[slot] && n[r] == done[slot]);
            for (int j = 0; j < 7; ++j) CHECK(h[r * 7 + j] == hist[slot * 7 + j]);
        }
    }
    const std::uint8_t repeated[] = {4, 9, 4, 20, 30};
    std::uint64_t one[1], count[1];
    const auto bad = state_strength(repeated, 1, 5, {one, nullptr, nullptr, count, 3}, 1, always);
    CHECK(bad && bad->row == 0 && bad->reason.find("appears twice") != std::string::npos);
}

}  // namespace

int main() {
    exact_preflop_figures();
    monte_carlo_independent_of_threads();
    cancellation_stops_workers();
    bad_requests_are_refused();
    random_deals_depend_on_the_seed_alone();
    hand_indexer_round_trips();
    board_sweep_matches_state_walk();
    std::printf("engine tests: %d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
