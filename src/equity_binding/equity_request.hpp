// The players and board of an equity call, read from Python sequences.
#pragma once

#include <nanobind/nanobind.h>

#include <cstdint>

#include "equity_engine/deal.hpp"

namespace tavrix::binding {

// `players`: a sequence of (combos, weights) pairs, combos a sequence of
// (card, card) pairs; `board`: a sequence of cards. Read through the C API so
// that a failed allocation is the MemoryError it is: nanobind's sequence
// casters on the limited API take it for arguments of the wrong type, and
// then crash building that message when memory is short. A wrong type or a
// card outside 0 to 255 is a TypeError; the engine checks the rest.
equity::EquityRequest equity_request(nanobind::handle players, nanobind::handle board, std::uint64_t dead_mask);

}  // namespace tavrix::binding
