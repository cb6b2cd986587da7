// Exact equity. Deals (one combo per player, no shared card) are listed once
// and grouped into classes equal under a permutation of the suits; one deal
// of each class is counted, in integers, by work items that depend only on
// the request. The weighted sum then runs over the deals in their listed
// order: the same result for any number of threads.
#include <atomic>
#include <bit>
#include <stdexcept>
#include <string>

#include "equity_engine/board_walk.hpp"
#include "equity_engine/compensated_sum.hpp"
#include "equity_engine/deal_search.hpp"
#include "equity_engine/equity_runs.hpp"
#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/showdown.hpp"
#include "equity_engine/suit_symmetry.hpp"

namespace tavrix::equity {
namespace {

struct DealList {
    std::vector<Combo> combos;  // players combos per deal
    std::vector<double> weight;

    std::size_t size() const noexcept { return weight.size(); }
};

DealList list_deals(const EquityRequest& request, const KeepGoing& keep_going) {
    DealList deals;
    for_each_deal(request, keep_going, [&](const std::vector<std::uint32_t>& combo_of_player) {
        if (deals.size() >= MAX_EXACT_DEALS)
            throw std::invalid_argument("more than " + std::to_string(MAX_EXACT_DEALS) +
                                        " deals to enumerate exactly: use trials for ranges this wide");
        double weight = 1.0;
        for (std::size_t p = 0; p < combo_of_player.size(); ++p) {
            deals.combos.push_back(request.players[p].combos[combo_of_player[p]]);
            weight *= request.players[p].weights[combo_of_player[p]];
        }
        deals.weight.push_back(weight);
        return true;
    });
    return deals;
}

std::uint64_t choose(int n, int k) {
    std::uint64_t result = 1;
    for (int i = 1; i <= k; ++i) result = result * static_cast<std::uint64_t>(n - k + i) / static_cast<std::uint64_t>(i);
    return result;
}

// Item i covers the deal classes [first, last) and, when split, only the
// boards whose first card is deck position i % positions.
struct WorkPlan {
    std::size_t classes_per_item = 1;
    int positions = 0;  // > 0: every class is split into this many items by its first board card
    std::size_t items = 0;
};

WorkPlan plan_work(std::size_t classes, int deck_size, int to_deal) {
    WorkPlan plan;
    // Few deals with many boards each: split them by first card so that every
    // thread gets work and a cancellation is seen within a few milliseconds.
    if (to_deal >= 4 && classes < 1024) {
        plan.positions = deck_size - to_deal + 1;
        plan.items = classes * static_cast<std::size_t>(plan.positions);
        return plan;
    }
    const std::uint64_t boards = choose(deck_size, to_deal);
    plan.classes_per_item = boards >= 65536 ? 1 : static_cast<std::size_t>(65536 / boards);
    plan.items = (classes + plan.classes_per_item - 1) / plan.classes_per_item;
    return plan;
}

// Integer counts per deal class: wins, ties and shares per player, then boards.
struct ClassCounts {
    std::size_t players;
    std::vector<std::uint64_t> values;

    ClassCounts(std::size_t classes, std::size_t players) : players(players), values(classes * (3 * players + 1)) {}
    std::uint64_t* of(std::size_t cls) noexcept { return values.data() + cls * (3 * players + 1); }
};

template <int Players>
void count_item(const EquityRequest& request, const DealList& deals, const DealClasses& classes,
                const WorkPlan& plan, const TableView& tables, std::size_t item, ClassCounts& counts) {
    const std::size_t first = plan.positions ? item / plan.positions : item * plan.classes_per_item;
    const std::size_t last =
        plan.positions ? first + 1 : std::min(first + plan.classes_per_item, classes.representative.size());
    const int to_deal = BOARD_CARDS - static_cast<int>(request.board.size());
    const HandValue board = request.board_words();
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;

    for (std::size_t cls = first; cls < last; ++cls) {
        const std::size_t deal = classes.representative[cls];
        Showdown<Players, false> showdown{tables, {}, {}, false};
        std::uint64_t used = fixed;
        for (int p = 0; p < Players; ++p) {
            const Combo combo = deals.combos[deal * Players + p];
            showdown.holes[p] = hole_words(combo);
            used |= combo.mask();
        }
        HandValue deck[CARD_COUNT];
        const int n = remaining_deck(used, deck);
        if (plan.positions) {
            const int position = static_cast<int>(item % plan.positions);
            walk_boards(to_deal - 1, deck, n, position + 1, combine(board, deck[position]), showdown);
        } else {
            walk_boards(to_deal, deck, n, 0, board, showdown);
        }
        if (showdown.fault) throw TableFault();
        // Split items of one class add into the same slots: integer sums, so
        // the order they finish in does not matter.
        std::uint64_t* out = counts.of(cls);
        for (int p = 0; p < Players; ++p) {
            std::atomic_ref(out[3 * p]).fetch_add(showdown.counts.wins[p], std::memory_order_relaxed);
            std::atomic_ref(out[3 * p + 1]).fetch_add(showdown.counts.ties[p], std::memory_order_relaxed);
            std::atomic_ref(out[3 * p + 2]).fetch_add(showdown.counts.shares[p], std::memory_order_relaxed);
        }
        std::atomic_ref(out[3 * Players]).fetch_add(showdown.counts.boards, std::memory_order_relaxed);
    }
}

}  // namespace

EquityTotals exact_equity(const EquityRequest& request, unsigned threads, const KeepGoing& keep_going) {
    request.validate();
    const TableView tables = table_view();
    const std::size_t players = request.players.size();

    const DealList deals = list_deals(request, keep_going);
    if (deals.size() == 0) throw NoDeal();
    const DealClasses classes =
        classify_deals(deals.combos, players, deals.size(), symmetries(request.board_mask(), request.dead_mask));

    const int to_deal = BOARD_CARDS - static_cast<int>(request.board.size());
    const int deck_size =
        CARD_COUNT - std::popcount(request.board_mask() | request.dead_mask) - 2 * static_cast<int>(players);
    const WorkPlan plan = plan_work(classes.representative.size(), deck_size, to_deal);

    ClassCounts counts(classes.representative.size(), players);
    run_parallel(
        plan.items, threads,
        [&](std::size_t item) {
            with_player_count(static_cast<int>(players), [&]<int P>() {
                count_item<P>(request, deals, classes, plan, tables, item, counts);
            });
        },
        keep_going);

    // Millions of weighted terms: compensated sums keep the totals within a
    // unit or two in the last place of the exact sums of the given weights.
    std::vector<CompensatedSum> sums(3 * players + 1);
    for (std::size_t d = 0; d < deals.size(); ++d) {
        const std::uint64_t* c = counts.of(classes.class_of[d]);
        const double w = deals.weight[d];
        for (std::size_t k = 0; k <= 3 * players; ++k) sums[k].add(w * static_cast<double>(c[k]));
    }
    EquityTotals totals(players);
    for (std::size_t p = 0; p < players; ++p) {
        totals.wins[p] = sums[3 * p].value();
        totals.ties[p] = sums[3 * p + 1].value();
        totals.shares[p] = sums[3 * p + 2].value();
    }
    totals.boards = sums[3 * players].value();
    return totals;
}

void heads_up_counts(const std::uint8_t* rows, std::size_t count, std::uint64_t* out, unsigned threads,
                     const KeepGoing& keep_going) {
    for (std::size_t i = 0; i < 4 * count; ++i)
        if (rows[i] >= CARD_COUNT) throw std::invalid_argument("card index " + std::to_string(rows[i]) + " is outside 0 to 51");
    const TableView tables = table_view();
    run_parallel(
        count, threads,
        [&](std::size_t row) {
            const std::uint8_t* cards = rows + 4 * row;
            const Combo a{cards[0], cards[1]}, b{cards[2], cards[3]};
            const std::uint64_t used = a.mask() | b.mask();
            if (std::popcount(used) != 4)
                throw std::invalid_argument("matchup " + std::to_string(row) + " does not hold four different cards");
            Showdown<2, false> showdown{tables, {hole_words(a), hole_words(b)}, {}, false};
            HandValue deck[CARD_COUNT];
            const int n = remaining_deck(used, deck);
            walk_boards<BOARD_CARDS>(deck, n, 0, EMPTY_HAND, showdown);
            if (showdown.fault) throw TableFault();
            out[3 * row] = showdown.counts.wins[0];
            out[3 * row + 1] = showdown.counts.wins[1];
            out[3 * row + 2] = showdown.counts.ties[0];
        },
        keep_going);
}

}  // namespace tavrix::equity
