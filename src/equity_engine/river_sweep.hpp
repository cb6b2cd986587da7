// The river hand strength of every hole-card combo on one complete board,
// against one opponent holding any two of the cards left: all combos are
// scored once, ordered by score, and one walk over the order counts for each
// combo the opponent combos it beats and ties, without comparing pairs.
#pragma once

#include <array>
#include <cstdint>

#include "equity_engine/table_view.hpp"
#include "hand_evaluator/hand_value.hpp"

namespace tavrix::equity {

// A river strength is kept as the integer 2 * beaten + tied over the 990
// opponent combos, so strengths compare and sum exactly; HS = value / 1980.
inline constexpr unsigned OPPONENT_COMBOS = 990;
inline constexpr unsigned STRENGTH_UNITS = 2 * OPPONENT_COMBOS;
// Cards left after a complete board, and the hole combos they make.
inline constexpr int RIVER_DECK = 47;
inline constexpr int RIVER_COMBOS = RIVER_DECK * (RIVER_DECK - 1) / 2;

class RiverSweep {
public:
    explicit RiverSweep(const TableView& tables) noexcept : tables_(tables) {}

    // Fills value[slot] for every combo of the 47 cards not in `board_mask`
    // (`board` is their biased hand). Slots follow card order: (c0, c1),
    // (c0, c2), ..., with c0 < c1 < ... the cards left; cards() names them.
    // Returns false when the tables gave no score (they are damaged).
    bool run(HandValue board, std::uint64_t board_mask, std::uint16_t* value) noexcept;

    const std::array<std::uint8_t, RIVER_DECK>& cards() const noexcept { return cards_; }

private:
    TableView tables_;
    std::array<std::uint8_t, RIVER_DECK> cards_{};
    std::array<std::uint32_t, RIVER_COMBOS> keys_{};
    std::array<std::uint32_t, RIVER_COMBOS> sorted_{};
    std::array<std::uint8_t, 2 * RIVER_COMBOS> combo_cards_{};
};

}  // namespace tavrix::equity
