// Preflop sums of classes of combos against each other, by sweeping boards:
// on each swept board, for every pair of classes (i, j), twice the pairs of
// combos (one of class i, one of class j, no card shared, none with the
// board) where i's combo wins, plus those that tie. A class is a set of
// combos that every permutation of the suits maps onto itself (a starting
// hand class, or a union of them), so one board per class of boards equal
// under the suits is swept, with its class size as multiplicity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "equity_engine/equity_runs.hpp"

namespace tavrix::equity {

// The work items of a preflop class sweep (fixed prefixes of the board).
std::size_t class_sweep_items();

// Adds the sums of items [first, last) into out[i * classes + j] (classes x
// classes, uint64): 2 * wins + ties of class i against class j. combos and
// class_of (0 to classes - 1) list every combo of every class; a set that a
// suit permutation does not map onto itself is refused. Returns the ordered
// pairs of combos (no card shared, none with the board) counted over the
// same boards: the sum of every entry added, since the two orders of a pair
// add 2 * wins + ties up to 2.
std::uint64_t class_sweep(const std::vector<Combo>& combos, const std::vector<std::uint16_t>& class_of,
                          std::size_t classes, std::size_t first, std::size_t last, std::uint64_t* out,
                          unsigned threads, const KeepGoing& keep_going);

}  // namespace tavrix::equity
