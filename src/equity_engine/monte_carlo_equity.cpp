// Monte Carlo equity. Trials come in fixed blocks; block b draws from a stream
// seeded by (seed, b) and counts in integers, and integer sums do not depend on
// the order blocks finish in, so a seed gives the same result for any number
// of threads.
#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <memory>
#include <optional>
#include <stdexcept>

#include "equity_engine/board_walk.hpp"
#include "equity_engine/deal_search.hpp"
#include "equity_engine/equity_runs.hpp"
#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/random.hpp"
#include "equity_engine/showdown.hpp"

namespace tavrix::equity {
namespace {

// After this many deals in a row that share a card, rejection is given up:
// the run starts again drawing from a list of the possible deals.
constexpr unsigned MAX_REJECTED_DEALS = 1'000'000;

// A block whose deals kept sharing cards.
struct RejectionStalled {};

// Every possible deal with its weight (the product of its combos' weights),
// for ranges that almost never leave one: drawing from the list gives each
// deal the same probability as rejection would, without the rejections.
struct DealTable {
    std::size_t players = 0;
    std::vector<Combo> combos;       // deal d's combo of player p at d * players + p
    std::vector<double> cumulative;  // running sums of the deals' weights

    const Combo* draw(BlockRandom& random) const noexcept {
        const double target = random.unit() * cumulative.back();
        const auto it = std::upper_bound(cumulative.begin(), cumulative.end(), target);
        const auto deal = std::min<std::size_t>(static_cast<std::size_t>(it - cumulative.begin()), cumulative.size() - 1);
        return &combos[deal * players];
    }
};

// The table of every deal, or nothing when there are more than MAX_EXACT_DEALS.
std::optional<DealTable> list_deals(const EquityRequest& request, const KeepGoing& keep_going) {
    DealTable table;
    table.players = request.players.size();
    double sum = 0;
    bool too_many = false;
    for_each_deal(request, keep_going, [&](const std::vector<std::uint32_t>& combo_of_player) {
        if (table.cumulative.size() == MAX_EXACT_DEALS) return !(too_many = true);
        double weight = 1;
        for (std::size_t p = 0; p < table.players; ++p) {
            const PlayerCombos& player = request.players[p];
            table.combos.push_back(player.combos[combo_of_player[p]]);
            weight *= player.weights[combo_of_player[p]];
        }
        table.cumulative.push_back(sum += weight);
        return true;
    });
    if (too_many || table.cumulative.empty() || !(sum > 0) || !std::isfinite(sum)) return std::nullopt;
    return table;
}

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
// probability proportional to the product of its weights; or, with a table of
// the deals, one deal drawn from it by weight. The board's cards are then
// drawn from the deck by rejection against the cards in play.
template <int Players>
void deal_boards_to_ranges(const EquityRequest& request, const std::vector<ComboSampler>& samplers,
                           const DealTable* deals, HandValue base, std::uint64_t trials, BlockRandom& random,
                           Showdown<Players, true>& showdown) {
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;
    const int to_deal = BOARD_CARDS - static_cast<int>(request.board.size());
    std::uint64_t draws = 0;
    for (std::uint64_t t = 0; t < trials; ++t) {
        std::uint64_t used = fixed;
        if (deals != nullptr) {
            const Combo* deal = deals->draw(random);
            for (int p = 0; p < Players; ++p) {
                used |= deal[p].mask();
                showdown.holes[p] = hole_words(deal[p]);
            }
        }
        for (unsigned rejected = 0; deals == nullptr; ++rejected) {
            if (rejected == MAX_REJECTED_DEALS) throw RejectionStalled();
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
void run_block(const EquityRequest& request, const std::vector<ComboSampler>& samplers, const DealTable* deals,
               const TableView& tables, std::uint64_t seed, std::uint64_t block, std::uint64_t trials, BlockSums& sums) {
    BlockRandom random(seed, block);
    Showdown<Players, true> showdown{tables, {}, {}, false};
    const HandValue base = request.board_words();
    const bool hands_only =
        std::all_of(request.players.begin(), request.players.end(), [](const PlayerCombos& p) { return p.combos.size() == 1; });
    if (hands_only)
        deal_boards_to_hands(request, base, trials, random, showdown);
    else
        deal_boards_to_ranges(request, samplers, deals, base, trials, random, showdown);

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
    // Once told to stop, stays stopped: a stalled run is not started again
    // after Ctrl-C, whose signal has already been handled.
    bool stopped = false;
    const KeepGoing latched = [&stopped, &keep_going] {
        if (!stopped && !keep_going()) stopped = true;
        return !stopped;
    };
    auto run = [&](const DealTable* deals, BlockSums& sums) {
        run_parallel(
            blocks, threads,
            [&](std::size_t block) {
                const std::uint64_t first = block * TRIALS_PER_BLOCK;
                const std::uint64_t count = std::min(TRIALS_PER_BLOCK, trials - first);
                with_player_count(static_cast<int>(players), [&]<int P>() {
                    run_block<P>(request, samplers, deals, tables, seed, block, count, sums);
                });
            },
            latched);
    };
    auto sums_holder = std::make_unique<BlockSums>();
    try {
        run(nullptr, *sums_holder);
    } catch (const RejectionStalled&) {
        // Whether some block stalls depends on the seed alone, so the thread
        // count cannot change which way the trials are drawn.
        if (stopped) throw Cancelled();
        const std::optional<DealTable> deals = list_deals(request, latched);
        if (!deals) throw std::invalid_argument("the players' ranges almost never leave a possible deal");
        sums_holder = std::make_unique<BlockSums>();
        run(&*deals, *sums_holder);
    }
    const BlockSums& sums = *sums_holder;

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
