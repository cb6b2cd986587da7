// What a hole-card combo holds on a board of 3 to 5 cards: one made-hand class
// (the best five of hole and board cards, with three of a kind and one pair
// split by where their cards are) and a set of draws.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tavrix::equity {

// Made-hand classes from best to worst; the order of the Python names. Top
// pair beats any underpair; an underpair and second pair can go either way.
enum MadeClass : std::uint8_t {
    STRAIGHT_FLUSH, FOUR_OF_A_KIND, FULL_HOUSE, FLUSH, STRAIGHT,
    SET, TRIPS, BOARD_TRIPS, TWO_PAIR,
    OVERPAIR, TOP_PAIR, UNDERPAIR, SECOND_PAIR, WEAK_PAIR, BOARD_PAIR,
    HIGH_CARD,
    MADE_CLASSES
};

// Draw classes as bits of one byte, in the order of the Python names.
enum DrawBit : std::uint8_t {
    FLUSH_DRAW = 1, BACKDOOR_FLUSH_DRAW = 2, OPEN_ENDED = 4, GUTSHOT = 8, OVERCARDS = 16,
};
inline constexpr int DRAW_CLASSES = 5;

// Classifies `count` combos (pairs of card indices, none on the board) on a
// board of 3 to 5 distinct cards: made[i] is a MadeClass, draws[i] a set of
// DrawBits (always 0 on a full board). Throws std::invalid_argument for a bad
// board or a combo that repeats a card, naming the combo's row.
void classify_combos(const std::uint8_t* board, std::size_t board_size, const std::uint8_t* combos,
                     std::size_t count, std::uint8_t* made, std::uint8_t* draws);

}  // namespace tavrix::equity
