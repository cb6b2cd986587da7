// Exact heads-up equity by sweeping every class of board completions.
//
// Work items are fixed prefixes of the completion (the first cards added, in
// deck order); a worker sweeps every completion of its prefix that is the
// smallest of its class under the suit symmetry, with the class size as its
// multiplicity. Every sum is an integer (uint64, or 128 bits over weights
// scaled to integers), so the totals do not depend on which worker ran what.
#include "equity_engine/sweep_equity.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "equity_engine/board_completions.hpp"
#include "equity_engine/board_sweep.hpp"
#include "equity_engine/compensated_sum.hpp"
#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/showdown.hpp"
#include "equity_engine/suit_symmetry.hpp"

namespace tavrix::equity {
namespace {

constexpr std::uint32_t NO_SLOT = 0xFFFFFFFF;
// Scaled weights stay below 2^90: 1,081 combos, 2.6 million boards and 24
// suit images more keep every 128-bit sum below 2^127.
constexpr int MAX_WEIGHT_BITS = 90;

std::uint32_t combo_key(std::uint8_t a, std::uint8_t b) noexcept {
    return a > b ? a * 52u + b : b * 52u + a;
}

// The distinct live combos of both players, each player's weight on them,
// and where each requested combo went.
struct SlotPlan {
    SweepSlots slots;
    std::array<std::vector<double>, 2> weight;
    std::array<std::vector<std::uint32_t>, 2> slot_of;
    std::vector<std::uint32_t> lookup = std::vector<std::uint32_t>(CARD_COUNT * CARD_COUNT, NO_SLOT);

    std::uint32_t find(std::uint8_t a, std::uint8_t b) const noexcept { return lookup[combo_key(a, b)]; }
};

SlotPlan plan_slots(const EquityRequest& request) {
    SlotPlan plan;
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;
    for (int p = 0; p < 2; ++p) {
        const PlayerCombos& player = request.players[p];
        for (std::size_t i = 0; i < player.combos.size(); ++i) {
            const Combo c = player.combos[i];
            if (c.mask() & fixed) {
                plan.slot_of[p].push_back(NO_SLOT);
                continue;
            }
            std::uint32_t& slot = plan.lookup[combo_key(c.first, c.second)];
            if (slot == NO_SLOT) {
                slot = static_cast<std::uint32_t>(plan.slots.size());
                plan.slots.add({std::max(c.first, c.second), std::min(c.first, c.second)});
                plan.weight[0].push_back(0);
                plan.weight[1].push_back(0);
            }
            plan.weight[p][slot] += player.weights[i];
            plan.slot_of[p].push_back(slot);
        }
    }
    return plan;
}

bool has_deal(const SlotPlan& plan) {
    const std::size_t n = plan.slots.size();
    for (std::size_t a = 0; a < n; ++a) {
        if (plan.weight[0][a] == 0) continue;
        for (std::size_t b = 0; b < n; ++b)
            if (plan.weight[1][b] != 0 && !(plan.slots.combos[a].mask() & plan.slots.combos[b].mask())) return true;
    }
    return false;
}

// Weights as integers: w * 2^shift, exact when every weight fits in
// MAX_WEIGHT_BITS at a common scale (any weight written with up to ten
// decimals beside a weight of 1 does); otherwise the scale is set by the
// largest weight and the others are rounded to 2^-90 of it.
struct WeightScale {
    bool unit = true;  // every weight is 1: count in uint64
    int shift = 0;
};

WeightScale weight_scale(const SlotPlan& plan) {
    WeightScale scale;
    int needed = -100000, top = -100000;
    for (const auto& weights : plan.weight)
        for (const double w : weights) {
            if (w == 0) continue;
            if (w != 1) scale.unit = false;
            int exponent;
            const double fraction = std::frexp(w, &exponent);
            const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
            needed = std::max(needed, 53 - exponent - std::countr_zero(mantissa));
            top = std::max(top, exponent);
        }
    scale.shift = std::min(needed, MAX_WEIGHT_BITS - top);
    return scale;
}

template <typename Sum>
std::vector<Sum> scaled(const std::vector<double>& weights, const WeightScale& scale) {
    std::vector<Sum> out(weights.size());
    for (std::size_t s = 0; s < weights.size(); ++s)
        out[s] = scale.unit ? static_cast<Sum>(weights[s]) : static_cast<Sum>(std::nearbyint(std::ldexp(weights[s], scale.shift)));
    return out;
}

// The suit permutations that keep the board, the dead cards and both players'
// weights as they are, each as a map of card indices and of slots.
struct SuitGroup {
    std::vector<CardMap> cards;
    std::vector<std::vector<std::uint32_t>> slots;

    std::size_t size() const noexcept { return cards.size(); }
};

SuitGroup suit_group(const EquityRequest& request, const SlotPlan& plan) {
    SuitGroup group;
    for (const CardMap& map : symmetries(request.board_mask(), request.dead_mask)) {
        std::vector<std::uint32_t> image(plan.slots.size());
        bool keeps = true;
        for (std::size_t s = 0; s < plan.slots.size() && keeps; ++s) {
            const Combo c = plan.slots.combos[s];
            const std::uint32_t t = plan.find(map[c.first], map[c.second]);
            keeps = t != NO_SLOT && plan.weight[0][t] == plan.weight[0][s] && plan.weight[1][t] == plan.weight[1][s];
            image[s] = t;
        }
        if (!keeps) continue;
        group.cards.push_back(map);
        group.slots.push_back(std::move(image));
    }
    return group;
}

std::uint64_t choose(int n, int k) {
    if (k < 0 || k > n) return 0;
    std::uint64_t result = 1;
    for (int i = 1; i <= k; ++i) result = result * static_cast<std::uint64_t>(n - k + i) / static_cast<std::uint64_t>(i);
    return result;
}

// Per worker: the sweep and its sums, reused across items.
template <typename Sum, int Sides>
struct Worker {
    BoardSweep<Sum, Sides> sweep;
    std::array<SlotSums<Sum>, Sides> sums;

    std::uint64_t boards = 0;

    Worker(const SweepSlots& slots, std::array<const Sum*, Sides> opponents, TableView tables)
        : sweep(slots, opponents, tables, false) {
        for (auto& s : sums) s = SlotSums<Sum>(slots.size());
    }
};

template <typename Sum, int Sides>
struct SweepTotals {
    std::array<SlotSums<Sum>, Sides> sums;
    std::uint64_t boards = 0;
};

// Per slot, per side: exact sums over every completion.
template <typename Sum, int Sides>
SweepTotals<Sum, Sides> sweep_all(const EquityRequest& request, const SlotPlan& slots,
                                           const SuitGroup& group, std::array<const Sum*, Sides> opponents,
                                           unsigned threads, const KeepGoing& keep_going) {
    const TableView tables = table_view();
    const CompletionPlan plan = plan_completions(request.board_mask() | request.dead_mask,
                                                 static_cast<int>(request.board.size()));
    const ImageBits image_bits = image_bits_of(group.cards);

    WorkerPool<Worker<Sum, Sides>> pool(
        [&] { return std::make_unique<Worker<Sum, Sides>>(slots.slots, opponents, tables); });
    const HandValue board = request.board_words();
    run_parallel(
        plan.items.size(), threads,
        [&](std::size_t item) {
            Worker<Sum, Sides>* worker = pool.take();
            auto visit = [worker](HandValue complete, unsigned multiplicity) {
                std::array<SlotSums<Sum>*, Sides> out;
                for (int k = 0; k < Sides; ++k) out[k] = &worker->sums[k];
                worker->sweep.sweep(complete, static_cast<Sum>(multiplicity), out);
                ++worker->boards;
            };
            CompletionWalk<decltype(visit)>{plan, image_bits, visit}.item(plan.items[item], board);
            const bool fault = worker->sweep.fault;
            pool.give(worker);
            if (fault) throw TableFault();
        },
        keep_going);

    SweepTotals<Sum, Sides> result;
    auto& total = result.sums;
    for (auto& t : total) t = SlotSums<Sum>(slots.slots.size());
    for (const auto& worker : pool.all()) {
        for (int k = 0; k < Sides; ++k) total[k].add(worker->sums[k]);
        result.boards += worker->boards;
    }
    const Sum completions = static_cast<Sum>(choose(static_cast<int>(plan.deck.size()) - 4, plan.to_deal));
    for (int k = 0; k < Sides; ++k) met_over_completions(slots.slots, opponents[k], completions, total[k].met);
    if (group.size() == 1) return result;
    // Each class was swept on its smallest board only: a combo's sums over the
    // whole class are the average, over the group, of its images' sums.
    for (auto& t : total) {
        SlotSums<Sum> even(slots.slots.size());
        for (std::size_t s = 0; s < slots.slots.size(); ++s) {
            for (const auto& image : group.slots) {
                even.wins[s] += t.wins[image[s]];
                even.ties[s] += t.ties[image[s]];
            }
            const Sum size = static_cast<Sum>(group.size());
            even.wins[s] /= size;
            even.ties[s] /= size;
            even.met[s] = t.met[s];
        }
        t = std::move(even);
    }
    return result;
}

template <typename Sum>
ComboSums combo_sums(const std::vector<std::uint32_t>& slot_of, const SlotSums<Sum>& sums, double unit) {
    ComboSums out;
    for (const std::uint32_t s : slot_of) {
        const bool live = s != NO_SLOT;
        out.wins.push_back(live ? static_cast<double>(sums.wins[s]) * unit : 0.0);
        out.ties.push_back(live ? static_cast<double>(sums.ties[s]) * unit : 0.0);
        out.boards.push_back(live ? static_cast<double>(sums.met[s]) * unit : 0.0);
    }
    return out;
}

// The two players' totals from the hero's sums: what the hero does not win or
// tie of what it meets, the villain wins.
template <typename Sum>
EquityTotals totals_of(const EquityRequest& request, const SlotPlan& plan, const SlotSums<Sum>& sums, double unit) {
    CompensatedSum wins[2], ties, halves[2], boards;
    const PlayerCombos& hero = request.players[0];
    for (std::size_t i = 0; i < hero.combos.size(); ++i) {
        const std::uint32_t s = plan.slot_of[0][i];
        if (s == NO_SLOT) continue;
        const double h = hero.weights[i] * unit;
        const Sum lost = sums.met[s] - sums.wins[s] - sums.ties[s];
        wins[0].add(h * static_cast<double>(sums.wins[s]));
        wins[1].add(h * static_cast<double>(lost));
        ties.add(h * static_cast<double>(sums.ties[s]));
        halves[0].add(h * static_cast<double>(2 * sums.wins[s] + sums.ties[s]));
        halves[1].add(h * static_cast<double>(2 * lost + sums.ties[s]));
        boards.add(h * static_cast<double>(sums.met[s]));
    }
    EquityTotals totals(2);
    for (int p = 0; p < 2; ++p) {
        totals.wins[p] = wins[p].value();
        totals.ties[p] = ties.value();
        totals.shares[p] = halves[p].value() * static_cast<double>(SHARE_UNITS / 2);
    }
    totals.boards = boards.value();
    return totals;
}

template <typename Sum, int Sides>
SweepEquity run_sweep(const EquityRequest& request, const SlotPlan& plan, const WeightScale& scale,
                      unsigned threads, const KeepGoing& keep_going) {
    const SuitGroup group = suit_group(request, plan);
    const std::vector<Sum> villain = scaled<Sum>(plan.weight[1], scale), hero = scaled<Sum>(plan.weight[0], scale);
    std::array<const Sum*, Sides> opponents;
    opponents[0] = villain.data();
    if constexpr (Sides == 2) opponents[1] = hero.data();
    const auto swept = sweep_all<Sum, Sides>(request, plan, group, opponents, threads, keep_going);
    const auto& sums = swept.sums;
    const double unit = std::ldexp(1.0, -scale.shift);
    SweepEquity result;
    result.boards_swept = swept.boards;
    result.totals = totals_of(request, plan, sums[0], unit);
    result.hero = combo_sums(plan.slot_of[0], sums[0], unit);
    if constexpr (Sides == 2) result.villain = combo_sums(plan.slot_of[1], sums[1], unit);
    return result;
}

}  // namespace

SweepEquity sweep_equity(const EquityRequest& request, bool both_tables, unsigned threads, const KeepGoing& keep_going) {
    request.validate();
    if (request.players.size() != 2) throw std::invalid_argument("the board sweep is for two players");
    const SlotPlan plan = plan_slots(request);
    if (!has_deal(plan)) throw NoDeal();
    const WeightScale scale = weight_scale(plan);
    if (scale.unit)
        return both_tables ? run_sweep<std::uint64_t, 2>(request, plan, scale, threads, keep_going)
                           : run_sweep<std::uint64_t, 1>(request, plan, scale, threads, keep_going);
    return both_tables ? run_sweep<WideSum, 2>(request, plan, scale, threads, keep_going)
                       : run_sweep<WideSum, 1>(request, plan, scale, threads, keep_going);
}

double deal_path_cost(const EquityRequest& request) {
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;
    double deals = 1;
    for (const PlayerCombos& player : request.players)
        deals *= static_cast<double>(std::count_if(player.combos.begin(), player.combos.end(),
                                                   [&](Combo c) { return !(c.mask() & fixed); }));
    const int deck = CARD_COUNT - std::popcount(fixed) - 2 * static_cast<int>(request.players.size());
    const int to_deal = BOARD_CARDS - static_cast<int>(request.board.size());
    // Deals equal under a suit permutation are counted once; a few deals
    // rarely fall into fewer classes than that.
    const double classes = std::max(1.0, deals / static_cast<double>(symmetries(request.board_mask(), request.dead_mask).size()));
    return classes * static_cast<double>(choose(deck, to_deal)) * static_cast<double>(request.players.size()) +
           deals * 8.0;
}

double sweep_path_cost(const EquityRequest& request) {
    const SlotPlan plan = plan_slots(request);
    const SuitGroup group = suit_group(request, plan);
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;
    const int to_deal = BOARD_CARDS - static_cast<int>(request.board.size());
    const double boards = static_cast<double>(choose(CARD_COUNT - std::popcount(fixed), to_deal)) /
                          static_cast<double>(std::max<std::size_t>(group.size(), 1));
    // Per board: a score per combo, a sort and the walk (about three more
    // reads' worth per combo), and a fixed cost of the sort's counters.
    return boards * (4.0 * static_cast<double>(plan.slots.size()) + 600.0);
}

EquityTotals exact_equity_any_path(const EquityRequest& request, unsigned threads, const KeepGoing& keep_going,
                                   ExactPath path) {
    request.validate();
    const bool sweep = request.players.size() == 2 &&
                       (path == ExactPath::sweep ||
                        (path == ExactPath::cheaper && sweep_path_cost(request) < deal_path_cost(request)));
    if (sweep) return sweep_equity(request, false, threads, keep_going).totals;
    return exact_equity(request, threads, keep_going);
}

}  // namespace tavrix::equity
