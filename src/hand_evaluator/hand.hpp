// Hand operations that can fail: building a hand from card indices.
#pragma once

#include <cstdint>

#include "hand_evaluator/hand_value.hpp"

namespace tavrix {

// The unbiased hand of two hole cards. Equal cards are accepted and counted
// twice. A card index of 52 or more panics (c1 is checked first).
HandValue from_hole_cards(std::uint8_t c1, std::uint8_t c2);

}  // namespace tavrix
