// Monte Carlo equity. Trials come in fixed blocks; block b draws from a stream
// seeded by (seed, b) and counts in integers, and integer sums do not depend on
// the order blocks finish in, so a seed gives the same result for any number
// of threads.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <stdexcept>

#include "equity_engine/board_walk.hpp"
#include "equity_engine/deal_search.hpp"
#include "equity_engine/equity_runs.hpp"
#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/random.hpp"
#include "equity_engine/showdown.hpp"

namespace tavrix::equity {
namespace {

// After this many deals in a row that share a card, the ranges are taken to
// leave (almost) no possible deal.
constexpr unsigned MAX_REJECTED_DEALS = 1'000'000;

// Draws a player's combo with probability proportional to its weight.
struct ComboSampler {
    const PlayerCombos* player;
    std::vector<double> cumulative;

    explicit ComboSampler(const PlayerCombos& p) : player(&p), cumulative(p.weights.size()) {
        double sum = 0;
        for (std::size_t i = 0; i < p.weights.size(); ++i) cumulative[i] = sum += p.weights[i];
    }

    Combo draw(BlockRandom& random) const noexcept {
        const double target = random.unit() * cumulative.back();
        const auto it = std::upper_bound(cumulative.begin(), cumulative.end(), target);
        const auto index = std::min<std::size_t>(static_cast<std::size_t>(it - cumulative.begin()), cumulative.size() - 1);
        return player->combos[index];
    }
};

bool has_possible_deal(const EquityRequest& request, const KeepGoing& keep_going) {
    bool found = false;
    for_each_deal(request, keep_going, [&found](const std::vector<std::uint32_t>&) { return !(found = true); });
    return found;
}

// Integer sums over all blocks, added to by whichever thread ran a block.
struct BlockSums {
    std::array<std::atomic<std::uint64_t>, MAX_PLAYERS> wins{}, ties{}, shares{}, share_squares{};
    std::atomic<std::uint64_t> boards{0};
};

// Fixed hole cards: a partial shuffle of the remaining deck draws each board
// with exactly one bounded random number per card and no rejections.
template <int Players>
void deal_boards_to_hands(const EquityRequest& request, HandValue base, std::uint64_t trials, BlockRandom& random,
                          Showdown<Players, true>& showdown) {
    std::uint64_t dealt = request.board_mask() | request.dead_mask;
    for (int p = 0; p < Players; ++p) {
        const Combo combo = request.players[p].combos[0];
        showdown.holes[p] = hole_words(combo);
        dealt |= combo.mask();
    }
    HandValue deck[CARD_COUNT];
    const auto n = static_cast<std::uint32_t>(remaining_deck(dealt, deck));
    const auto to_deal = static_cast<std::uint32_t>(BOARD_CARDS - request.board.size());
    for (std::uint64_t t = 0; t < trials; ++t) {
        HandValue board = base;
        for (std::uint32_t k = 0; k < to_deal; ++k) {
            std::swap(deck[k], deck[k + random.below(n - k)]);
            board = combine(board, deck[k]);
        }
        showdown(board);
    }
}

// Ranges: each player's combo drawn by weight, the whole deal drawn again when
// two players (or a player and the board) share a card, which makes a deal's
// probability proportional to the product of its weights. The board's cards
// are then drawn from the deck by rejection against the cards in play.
template <int Players>
void deal_boards_to_ranges(const EquityRequest& request, const std::vector<ComboSampler>& samplers, HandValue base,
                           std::uint64_t trials, BlockRandom& random, Showdown<Players, true>& showdown) {
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;
    const int to_deal = BOARD_CARDS - static_cast<int>(request.board.size());
    std::uint64_t draws = 0;
    for (std::uint64_t t = 0; t < trials; ++t) {
        std::uint64_t used = fixed;
        for (unsigned rejected = 0;; ++rejected) {
            if (rejected == MAX_REJECTED_DEALS)
                throw std::invalid_argument("the players' ranges almost never leave a possible deal");
            // Ranges that rarely leave a deal can keep a block going for
            // minutes: a cancelled run must not wait for its end.
            if ((++draws & 0xFFF) == 0 && stop_requested()) throw Cancelled();
            used = fixed;
            int p = 0;
            for (; p < Players; ++p) {
                const Combo combo = samplers[p].draw(random);
                if (used & combo.mask()) break;
                used |= combo.mask();
                showdown.holes[p] = hole_words(combo);
            }
            if (p == Players) break;
        }
        HandValue board = base;
        for (int k = 0; k < to_deal; ++k) {
            unsigned card;
            do card = random.below(CARD_COUNT);
            while ((used >> card) & 1);
            used |= std::uint64_t{1} << card;
            board = combine(board, CARD_TABLE[card]);
        }
        showdown(board);
    }
}

template <int Players>
void run_block(const EquityRequest& request, const std::vector<ComboSampler>& samplers, const TableView& tables,
               std::uint64_t seed, std::uint64_t block, std::uint64_t trials, BlockSums& sums) {
    BlockRandom random(seed, block);
    Showdown<Players, true> showdown{tables, {}, {}, false};
    const HandValue base = request.board_words();
    const bool hands_only =
        std::all_of(request.players.begin(), request.players.end(), [](const PlayerCombos& p) { return p.combos.size() == 1; });
    if (hands_only)
        deal_boards_to_hands(request, base, trials, random, showdown);
    else
        deal_boards_to_ranges(request, samplers, base, trials, random, showdown);

    if (showdown.fault) throw TableFault();
    for (int p = 0; p < Players; ++p) {
        sums.wins[p] += showdown.counts.wins[p];
        sums.ties[p] += showdown.counts.ties[p];
        sums.shares[p] += showdown.counts.shares[p];
        sums.share_squares[p] += showdown.counts.share_squares[p];
    }
    sums.boards += showdown.counts.boards;
}

}  // namespace

EquityTotals monte_carlo_equity(const EquityRequest& request, std::uint64_t trials, std::uint64_t seed,
                                unsigned threads, const KeepGoing& keep_going) {
    request.validate();
    if (trials == 0) throw std::invalid_argument("trials must be at least 1");
    // Keeps the sums of squared shares (at most 2520^2 per trial) within 64 bits.
    if (trials > MAX_TRIALS) throw std::invalid_argument("trials must be at most 2^40");
    const TableView tables = table_view();
    if (!has_possible_deal(request, keep_going)) throw NoDeal();

    std::vector<ComboSampler> samplers;
    samplers.reserve(request.players.size());
    for (const PlayerCombos& player : request.players) samplers.emplace_back(player);

    const std::size_t players = request.players.size();
    const std::uint64_t blocks = (trials + TRIALS_PER_BLOCK - 1) / TRIALS_PER_BLOCK;
    BlockSums sums;
    run_parallel(
        blocks, threads,
        [&](std::size_t block) {
            const std::uint64_t first = block * TRIALS_PER_BLOCK;
            const std::uint64_t count = std::min(TRIALS_PER_BLOCK, trials - first);
            with_player_count(static_cast<int>(players), [&]<int P>() {
                run_block<P>(request, samplers, tables, seed, block, count, sums);
            });
        },
        keep_going);

    EquityTotals totals(players);
    for (std::size_t p = 0; p < players; ++p) {
        totals.wins[p] = static_cast<double>(sums.wins[p].load());
        totals.ties[p] = static_cast<double>(sums.ties[p].load());
        totals.shares[p] = static_cast<double>(sums.shares[p].load());
        totals.share_squares[p] = static_cast<double>(sums.share_squares[p].load());
    }
    totals.boards = static_cast<double>(sums.boards.load());
    return totals;
}

}  // namespace tavrix::equity
