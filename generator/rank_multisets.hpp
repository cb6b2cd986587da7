// The rank multisets a hand of up to seven distinct cards can have, with
// their rank keys (sum of RANK_BASES over the cards).
#pragma once

#include <cstdint>
#include <vector>

#include "hand_classes.hpp"

namespace tavrix::generator {

inline constexpr int MAX_HAND_CARDS = 7;
inline constexpr int CARDS_PER_RANK = 4;

struct RankMultiset {
    RankCounts counts;
    std::uint32_t key;
};

std::uint32_t rank_key_of(const RankCounts& counts);

// Every multiset of 0..MAX_HAND_CARDS ranks with no rank more than
// CARDS_PER_RANK times (76,155 of them).
std::vector<RankMultiset> all_rank_multisets();

}  // namespace tavrix::generator
