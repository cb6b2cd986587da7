// The showdown of every live combo against a weighted opponent range on one
// complete board, all pairs at once.
//
// Each live combo is scored once (board words plus hole words, one table
// read), the combos are ordered by score, and the scores are walked upward
// keeping the opponent weight passed so far, in total and per card. A combo
// {x, y} beats  below_total - below_card[x] - below_card[y]: the only combo
// below it that could hold both x and y is itself, and it is not below
// itself. It ties  equal_total - equal_card[x] - equal_card[y] + w({x, y})
// (its own weight is taken away twice by the card terms), and it meets
// total - card[x] - card[y] + w({x, y}) of the opponent's weight.
//
// Reuse: to get the river strength of every combo on a board, give every
// combo of the deck that misses the board as a slot, one opponent side with
// weight 1 on every slot, and call sweep() once with multiplicity 1: wins,
// ties and met of slot s are then the number of opponent combos it beats,
// ties and could meet (990 when no card is dead).
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "equity_engine/deal.hpp"
#include "equity_engine/table_view.hpp"

namespace tavrix::equity {

// Unweighted sweeps count in uint64; weighted ones in 128-bit integers over
// weights scaled to integers, so every sum is exact and order-free.
__extension__ typedef unsigned __int128 WideSum;

// The combos a sweep scores. Slot numbers fit in 16 bits.
struct SweepSlots {
    std::vector<Combo> combos;
    std::vector<HandValue> holes;  // unbiased words of the two hole cards

    std::size_t size() const noexcept { return combos.size(); }
    void add(Combo combo) {
        combos.push_back(combo);
        holes.push_back(hole_words(combo));
    }
};

// Per slot sums against one opponent: weight beaten, tied and met, each
// summed over the boards swept (times their multiplicity).
template <typename Sum>
struct SlotSums {
    std::vector<Sum> wins, ties, met;

    explicit SlotSums(std::size_t slots = 0) : wins(slots), ties(slots), met(slots) {}
    void add(const SlotSums& other) noexcept {
        for (std::size_t s = 0; s < wins.size(); ++s) {
            wins[s] += other.wins[s];
            ties[s] += other.ties[s];
            met[s] += other.met[s];
        }
    }
};

// The met weight of every slot summed over all `completions` ways to complete
// the board: two disjoint live combos leave the same number of completions
// whichever they are, so met is that number times the opponent's weight that
// shares no card with the slot.
template <typename Sum>
void met_over_completions(const SweepSlots& slots, const Sum* weight, Sum completions, std::vector<Sum>& met) {
    std::array<Sum, CARD_COUNT> card{};
    Sum total = 0;
    for (std::size_t s = 0; s < slots.size(); ++s) {
        total += weight[s];
        card[slots.combos[s].first] += weight[s];
        card[slots.combos[s].second] += weight[s];
    }
    for (std::size_t s = 0; s < slots.size(); ++s) {
        const Combo c = slots.combos[s];
        met[s] = completions * (total - card[c.first] - card[c.second] + weight[s]);
    }
}

// Sorts keys by their upper 16 bits (the score), stable, in two byte passes.
inline void sort_by_score(std::uint32_t* keys, std::uint32_t* scratch, std::size_t n) noexcept {
    std::uint32_t low[257] = {}, high[257] = {};
    for (std::size_t i = 0; i < n; ++i) {
        ++low[((keys[i] >> 16) & 0xFF) + 1];
        ++high[(keys[i] >> 24) + 1];
    }
    for (int b = 0; b < 256; ++b) {
        low[b + 1] += low[b];
        high[b + 1] += high[b];
    }
    for (std::size_t i = 0; i < n; ++i) scratch[low[(keys[i] >> 16) & 0xFF]++] = keys[i];
    for (std::size_t i = 0; i < n; ++i) keys[high[scratch[i] >> 24]++] = scratch[i];
}

// One worker's sweep over boards. Sides: how many opponent weight vectors
// (1: against the villain; 2: also against the hero, for both players' tables).
template <typename Sum, int Sides>
class BoardSweep {
public:
    // opponents[k][s]: the weight of slot s in opponent range k (0: not in it).
    // Without count_met, met is left alone: a caller that sweeps every
    // completion can count it in closed form (see met_over_completions).
    BoardSweep(const SweepSlots& slots, std::array<const Sum*, Sides> opponents, TableView tables, bool count_met = true)
        : slots_(slots), opponents_(opponents), tables_(tables), count_met_(count_met), keys_(slots.size()),
          scratch_(slots.size()) {}

    // Sweeps the complete board `board` (biased words of its five cards): adds
    // multiplicity times each live slot's sums into out[k]. A table fault
    // (damaged tables) sets `fault`.
    void sweep(HandValue board, Sum multiplicity, std::array<SlotSums<Sum>*, Sides> out) noexcept {
        const std::size_t n = score_live(board);
        sort_by_score(keys_.data(), scratch_.data(), n);
        for (int k = 0; k < Sides; ++k) walk(n, opponents_[k], multiplicity, *out[k]);
    }

    bool fault = false;

private:
    std::size_t score_live(HandValue board) noexcept {
        std::size_t n = 0;
        const std::size_t count = slots_.size();
        const HandValue* holes = slots_.holes.data();
        for (std::size_t s = 0; s < count; ++s) {
            if (holes[s].mask & board.mask) continue;
            const std::uint32_t score = tables_.score(board.key + holes[s].key, board.mask | holes[s].mask, fault);
            keys_[n++] = score << 16 | static_cast<std::uint32_t>(s);
        }
        return n;
    }

    void walk(std::size_t n, const Sum* weight, Sum multiplicity, SlotSums<Sum>& out) noexcept {
        std::array<Sum, CARD_COUNT> below{}, equal{};
        Sum below_total = 0;
        const Combo* combos = slots_.combos.data();
        const std::uint32_t* keys = keys_.data();
        for (std::size_t i = 0; i < n;) {
            const std::uint32_t score = keys[i] >> 16;
            std::size_t j = i;
            Sum equal_total = 0;
            for (; j < n && (keys[j] >> 16) == score; ++j) {
                const std::uint32_t s = keys[j] & 0xFFFF;
                const Combo c = combos[s];
                out.wins[s] += multiplicity * (below_total - below[c.first] - below[c.second]);
                const Sum w = weight[s];
                equal_total += w;
                equal[c.first] += w;
                equal[c.second] += w;
            }
            for (std::size_t k = i; k < j; ++k) {
                const std::uint32_t s = keys[k] & 0xFFFF;
                const Combo c = combos[s];
                out.ties[s] += multiplicity * (equal_total - equal[c.first] - equal[c.second] + weight[s]);
            }
            for (std::size_t k = i; k < j; ++k) {
                const Combo c = combos[keys[k] & 0xFFFF];
                below[c.first] += equal[c.first];
                below[c.second] += equal[c.second];
                equal[c.first] = 0;
                equal[c.second] = 0;
            }
            below_total += equal_total;
            i = j;
        }
        if (count_met_) {
            for (std::size_t k = 0; k < n; ++k) {
                const std::uint32_t s = keys[k] & 0xFFFF;
                const Combo c = combos[s];
                out.met[s] += multiplicity * (below_total - below[c.first] - below[c.second] + weight[s]);
            }
        }
    }

    const SweepSlots& slots_;
    std::array<const Sum*, Sides> opponents_;
    TableView tables_;
    bool count_met_;
    std::vector<std::uint32_t> keys_, scratch_;
};

}  // namespace tavrix::equity
