// Hand strength of states of one round against one uniformly random
// opponent: for every completion of the board, the river strength
// (2 * beaten + tied over the 990 opponent combos, see river_sweep.hpp), summed,
// squared and summed, and counted into histogram bins. All counts are
// integers, so results do not depend on the thread count or on any order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "equity_engine/batch_scoring.hpp"
#include "equity_engine/equity_runs.hpp"

namespace tavrix::equity {

// Where the sums of each row go: row r owns sum[r], square_sum[r],
// completions[r] and hist[r * bins .. r * bins + bins). square_sum and hist may
// be null when not wanted.
struct StrengthSums {
    std::uint64_t* sum;
    std::uint64_t* square_sum;
    std::uint64_t* hist;
    std::uint64_t* completions;
    unsigned bins;
};

// The histogram bin of each strength value 0..1980 among `bins` equal bins of
// [0, 1], decided on the integers: value v falls in bin floor(v * bins / 1980),
// and 1980 (HS = 1) in the last bin.
std::vector<std::uint32_t> strength_bins(unsigned bins);

// States of `width` cards (2: hole cards; 5, 6, 7: hole cards then the board
// so far), row-major. Returns the first row holding a card outside 0..51 or a
// repeated card; the sums are then incomplete. Preflop rows read the counts
// of their starting-hand class over every board, computed on the first call.
std::optional<BadRow> state_strength(const std::uint8_t* cards, std::size_t rows, std::size_t width,
                                     const StrengthSums& out, unsigned threads, const KeepGoing& keep_going);

// The hole-card combos left by a board of `board_cards` (3, 4 or 5) cards.
constexpr std::size_t board_combos(std::size_t board_cards) {
    return (52 - board_cards) * (51 - board_cards) / 2;
}

// For each of `boards` boards (rows of `board_cards` distinct valid cards),
// the sums of every hole-card combo of the cards left, in card order: (c0, c1),
// (c0, c2), ... Row board * board_combos(board_cards) + slot of `out`. A board
// of 5 cards is the river itself: one completion. Throws std::invalid_argument
// for a bad board.
void board_strength(const std::uint8_t* cards, std::size_t boards, std::size_t board_cards, const StrengthSums& out,
                    unsigned threads, const KeepGoing& keep_going);

}  // namespace tavrix::equity
