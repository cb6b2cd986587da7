// Scoring arrays of Omaha hands: rows of hole cards, each on its own board or
// all on one board.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "equity_engine/batch_scoring.hpp"

namespace tavrix::equity {

// Scores `rows` hands of `width` (4 to 6) hole cards on `boards`: five cards
// per row, or one board of five for every row when `one_board`. Writes the
// high scores, and the low scores (0: no qualifying low) when `lows` is not
// null. Every card is checked (0 to 51, no card twice among a row's hole
// cards and its board): the first bad row is returned, and the scores are
// then incomplete. Card is std::int64_t or std::uint8_t.
template <typename Card>
std::optional<BadRow> score_omaha_rows(const Card* holes, std::size_t rows, std::size_t width, const Card* boards,
                                       bool one_board, std::uint16_t* highs, std::uint16_t* lows, unsigned threads,
                                       const KeepGoing& keep_going);

}  // namespace tavrix::equity
