// Hole-card hands. Their index checks report fixed source positions
// (line 41, columns 9 and 34 of this file), which users' logs may match on.
#include "hand_evaluator/hand.hpp"

#include "hand_evaluator/panic.hpp"

namespace tavrix {
namespace {

constexpr const char HAND_SOURCE[] = "src/hand_evaluator/hand.cpp";
constexpr PanicLocation FIRST_CARD_CHECK = {HAND_SOURCE, 41, 9};
constexpr PanicLocation SECOND_CARD_CHECK = {HAND_SOURCE, 41, 34};

HandValue card_at(std::uint8_t index, PanicLocation check) {
    if (index >= CARD_COUNT) panic_index_out_of_bounds(CARD_COUNT, index, check);
    return CARD_TABLE[index];
}

}  // namespace

HandValue from_hole_cards(std::uint8_t c1, std::uint8_t c2) {
    const HandValue first = card_at(c1, FIRST_CARD_CHECK);
    return combine(first, card_at(c2, SECOND_CARD_CHECK));
}

}  // namespace tavrix
