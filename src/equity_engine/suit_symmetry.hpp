// Deals that are equal under a permutation of the suits have the same counts,
// provided the permutation leaves the board and the dead cards as they are.
// Exact runs count one representative of each such class of deals.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "equity_engine/deal.hpp"

namespace tavrix::equity {

// One suit permutation as a map of card indices.
using CardMap = std::array<std::uint8_t, CARD_COUNT>;

// The suit permutations (identity first) that map the board and the dead
// cards each onto themselves.
std::vector<CardMap> symmetries(std::uint64_t board_mask, std::uint64_t dead_mask);

struct DealClasses {
    std::vector<std::uint32_t> class_of;        // per deal: index of its class
    std::vector<std::uint32_t> representative;  // per class: the first deal in it
};

// Groups `deal_count` deals of `players` combos each (combos[d * players + p])
// into classes; classes are numbered in order of their first deal, so the
// grouping depends only on the deals, never on timing.
DealClasses classify_deals(const std::vector<Combo>& combos, std::size_t players, std::size_t deal_count,
                           const std::vector<CardMap>& maps);

}  // namespace tavrix::equity
