// Classification of a hand into its class: category plus the ranks that
// decide ties. Suits only matter through "all cards in one suit", so a hand
// is described either by its rank counts (no flush possible) or by the set
// of ranks it holds in a single suit.
#pragma once

#include <array>
#include <compare>
#include <cstdint>

namespace tavrix::generator {

inline constexpr int RANK_COUNT = 13;
inline constexpr int ACE = 12;
inline constexpr int FIVE = 3;

enum class Category : std::uint8_t {
    high_card,
    one_pair,
    two_pair,
    three_of_a_kind,
    straight,
    flush,
    full_house,
    four_of_a_kind,
    straight_flush,
};

inline constexpr int CATEGORY_COUNT = 9;

using RankCounts = std::array<std::uint8_t, RANK_COUNT>;

// The deciding ranks, most significant first, 4 bits each in a 20-bit word.
// A rank r is stored as r + 1 so that an absent card (0) sorts below every
// card: A-A < A-A-2 < A-A-3-2 falls out of plain integer comparison.
struct HandClass {
    Category category;
    std::uint32_t tiebreak;

    auto operator<=>(const HandClass&) const = default;
};

// Best class of the cards counted in `counts` when no five share a suit.
// Fewer than five cards form a class of all of them.
HandClass classify_without_flush(const RankCounts& counts);

// Best class of the ranks in bit set `rank_set` (bit r = rank r), all held
// in one suit. Fewer than five ranks score as the high card they are.
HandClass classify_suited(std::uint16_t rank_set);

}  // namespace tavrix::generator
