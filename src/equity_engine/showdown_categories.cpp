#include "equity_engine/showdown_categories.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <stdexcept>
#include <string>

#include "equity_engine/board_walk.hpp"
#include "equity_engine/deal_search.hpp"
#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/random.hpp"
#include "equity_engine/showdown.hpp"
#include "equity_engine/suit_symmetry.hpp"
#include "equity_engine/table_view.hpp"

namespace tavrix::equity {
namespace {

// Deal classes per work item of an exact run: items sum in a fixed order, so
// the totals do not depend on which thread ran which item.
constexpr std::size_t CLASSES_PER_ITEM = 16;
constexpr unsigned MAX_REJECTED_DEALS = 1'000'000;

template <int Players>
struct CategoryShowdown {
    TableView tables;
    std::array<HandValue, Players> holes{};
    std::array<std::array<std::uint64_t, CATEGORIES>, Players> final_hand{};
    std::array<std::array<std::uint64_t, CATEGORIES>, Players> winning{};
    std::uint64_t boards = 0;
    bool fault = false;

    void operator()(HandValue board) noexcept {
        std::array<std::uint16_t, Players> scores;
        std::uint16_t best = 0;
        for (int p = 0; p < Players; ++p) {
            scores[p] = tables.score(board.key + holes[p].key, board.mask | holes[p].mask, fault);
            best = std::max(best, scores[p]);
        }
        for (int p = 0; p < Players; ++p) {
            const unsigned category = std::min<unsigned>(scores[p] >> 12, CATEGORIES - 1);
            ++final_hand[p][category];
            winning[p][category] += scores[p] == best;
        }
        ++boards;
    }

    void clear() noexcept {
        final_hand = {};
        winning = {};
        boards = 0;
    }
};

struct Deals {
    std::vector<Combo> combos;  // players per deal
    std::vector<double> weight;
};

Deals list_deals(const EquityRequest& request, const KeepGoing& keep_going) {
    Deals deals;
    for_each_deal(request, keep_going, [&](const std::vector<std::uint32_t>& combo_of_player) {
        if (deals.weight.size() >= MAX_EXACT_DEALS)
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
    if (deals.weight.empty()) throw NoDeal();
    return deals;
}

template <int Players>
void add_weighted(const CategoryShowdown<Players>& showdown, double weight, double* final_hand, double* winning,
                  double& boards) {
    for (int p = 0; p < Players; ++p)
        for (int c = 0; c < CATEGORIES; ++c) {
            final_hand[p * CATEGORIES + c] += weight * static_cast<double>(showdown.final_hand[p][c]);
            winning[p * CATEGORIES + c] += weight * static_cast<double>(showdown.winning[p][c]);
        }
    boards += weight * static_cast<double>(showdown.boards);
}

// Deals equal under a suit permutation that keeps the board and the dead cards
// give every player the same categories: one representative per class is
// counted, weighted by the total weight of the class's deals.
template <int Players>
void count_classes(const EquityRequest& request, const Deals& deals, const DealClasses& classes,
                   const std::vector<double>& class_weight, const TableView& tables, std::size_t first,
                   std::size_t last, CategoryTotals& out) {
    const int to_deal = BOARD_CARDS - static_cast<int>(request.board.size());
    const HandValue board = request.board_words();
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;
    CategoryShowdown<Players> showdown{tables};
    for (std::size_t cls = first; cls < last; ++cls) {
        if (stop_requested()) throw Cancelled();
        showdown.clear();
        const std::size_t deal = classes.representative[cls];
        std::uint64_t used = fixed;
        for (int p = 0; p < Players; ++p) {
            const Combo combo = deals.combos[deal * Players + p];
            showdown.holes[p] = hole_words(combo);
            used |= combo.mask();
        }
        HandValue deck[CARD_COUNT];
        const int n = remaining_deck(used, deck);
        walk_boards(to_deal, deck, n, 0, board, showdown);
        if (showdown.fault) throw TableFault();
        add_weighted(showdown, class_weight[cls], out.final_hand.data(), out.winning.data(), out.boards);
    }
}

CategoryTotals empty_totals(std::size_t players) {
    CategoryTotals totals;
    totals.final_hand.assign(players * CATEGORIES, 0.0);
    totals.winning.assign(players * CATEGORIES, 0.0);
    return totals;
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
        return player->combos[std::min<std::size_t>(static_cast<std::size_t>(it - cumulative.begin()), cumulative.size() - 1)];
    }
};

template <int Players>
void sample_block(const EquityRequest& request, const std::vector<ComboSampler>& samplers, const TableView& tables,
                  std::uint64_t seed, std::uint64_t block, std::uint64_t trials, std::atomic<std::uint64_t>* sums) {
    BlockRandom random(seed, block);
    CategoryShowdown<Players> showdown{tables};
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;
    const int to_deal = BOARD_CARDS - static_cast<int>(request.board.size());
    const HandValue base = request.board_words();
    std::uint64_t draws = 0;
    for (std::uint64_t t = 0; t < trials; ++t) {
        std::uint64_t used = fixed;
        for (unsigned rejected = 0;; ++rejected) {
            if (rejected == MAX_REJECTED_DEALS)
                throw std::invalid_argument("the players' ranges almost never leave a possible deal");
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
    if (showdown.fault) throw TableFault();
    // Integer sums: the order blocks finish in does not matter.
    for (int p = 0; p < Players; ++p)
        for (int c = 0; c < CATEGORIES; ++c) {
            sums[p * CATEGORIES + c] += showdown.final_hand[p][c];
            sums[(Players + p) * CATEGORIES + c] += showdown.winning[p][c];
        }
}

}  // namespace

CategoryTotals exact_showdown_categories(const EquityRequest& request, unsigned threads, const KeepGoing& keep_going) {
    request.validate();
    const TableView tables = table_view();
    const std::size_t players = request.players.size();
    const Deals deals = list_deals(request, keep_going);
    const DealClasses classes = classify_deals(deals.combos, players, deals.weight.size(),
                                               symmetries(request.board_mask(), request.dead_mask));
    // Summed in deal order: the same doubles whatever the thread count.
    std::vector<double> class_weight(classes.representative.size(), 0.0);
    for (std::size_t d = 0; d < deals.weight.size(); ++d) class_weight[classes.class_of[d]] += deals.weight[d];

    const std::size_t count = classes.representative.size();
    const std::size_t items = (count + CLASSES_PER_ITEM - 1) / CLASSES_PER_ITEM;
    std::vector<CategoryTotals> parts(items, empty_totals(players));
    run_parallel(
        items, threads,
        [&](std::size_t item) {
            const std::size_t first = item * CLASSES_PER_ITEM, last = std::min(count, first + CLASSES_PER_ITEM);
            with_player_count(static_cast<int>(players), [&]<int P>() {
                count_classes<P>(request, deals, classes, class_weight, tables, first, last, parts[item]);
            });
        },
        keep_going);
    CategoryTotals totals = empty_totals(players);
    for (const CategoryTotals& part : parts) {
        for (std::size_t i = 0; i < totals.final_hand.size(); ++i) {
            totals.final_hand[i] += part.final_hand[i];
            totals.winning[i] += part.winning[i];
        }
        totals.boards += part.boards;
    }
    return totals;
}

CategoryTotals sampled_showdown_categories(const EquityRequest& request, std::uint64_t trials, std::uint64_t seed,
                                           unsigned threads, const KeepGoing& keep_going) {
    request.validate();
    if (trials == 0 || trials > MAX_TRIALS) throw std::invalid_argument("trials must be 1 to 2^40");
    const TableView tables = table_view();
    bool found = false;
    for_each_deal(request, keep_going, [&found](const std::vector<std::uint32_t>&) { return !(found = true); });
    if (!found) throw NoDeal();
    std::vector<ComboSampler> samplers;
    for (const PlayerCombos& player : request.players) samplers.emplace_back(player);
    const std::size_t players = request.players.size();
    std::vector<std::atomic<std::uint64_t>> sums(2 * players * CATEGORIES);
    const std::uint64_t blocks = (trials + TRIALS_PER_BLOCK - 1) / TRIALS_PER_BLOCK;
    run_parallel(
        blocks, threads,
        [&](std::size_t block) {
            const std::uint64_t count = std::min(TRIALS_PER_BLOCK, trials - block * TRIALS_PER_BLOCK);
            with_player_count(static_cast<int>(players), [&]<int P>() {
                sample_block<P>(request, samplers, tables, seed, block, count, sums.data());
            });
        },
        keep_going);
    CategoryTotals totals = empty_totals(players);
    for (std::size_t i = 0; i < players * CATEGORIES; ++i) {
        totals.final_hand[i] = static_cast<double>(sums[i].load());
        totals.winning[i] = static_cast<double>(sums[players * CATEGORIES + i].load());
    }
    totals.boards = static_cast<double>(trials);
    return totals;
}

}  // namespace tavrix::equity
