#include "equity_engine/suit_symmetry.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <unordered_map>

namespace tavrix::equity {
namespace {

std::uint64_t map_mask(const CardMap& map, std::uint64_t mask) {
    std::uint64_t mapped = 0;
    for (unsigned c = 0; c < CARD_COUNT; ++c)
        if ((mask >> c) & 1) mapped |= std::uint64_t{1} << map[c];
    return mapped;
}

// A deal under one map, as bytes: each player's two cards, higher first.
using DealKey = std::array<std::uint8_t, 2 * MAX_PLAYERS>;

struct DealKeyHash {
    std::size_t operator()(const DealKey& key) const noexcept {
        return std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(key.data()), key.size()));
    }
};

}  // namespace

std::vector<CardMap> symmetries(std::uint64_t board_mask, std::uint64_t dead_mask) {
    std::array<std::uint8_t, 4> suits = {0, 1, 2, 3};
    std::vector<CardMap> maps;
    do {
        CardMap map;
        for (unsigned c = 0; c < CARD_COUNT; ++c) map[c] = static_cast<std::uint8_t>((c & ~3u) | suits[c & 3]);
        if (map_mask(map, board_mask) == board_mask && map_mask(map, dead_mask) == dead_mask) maps.push_back(map);
    } while (std::next_permutation(suits.begin(), suits.end()));
    return maps;  // the identity comes first: it is the first permutation
}

DealClasses classify_deals(const std::vector<Combo>& combos, std::size_t players, std::size_t deal_count,
                           const std::vector<CardMap>& maps) {
    DealClasses classes;
    classes.class_of.resize(deal_count);
    std::unordered_map<DealKey, std::uint32_t, DealKeyHash> known;
    known.reserve(deal_count / 4 + 1);
    for (std::size_t d = 0; d < deal_count; ++d) {
        DealKey smallest;
        smallest.fill(0xFF);
        for (const CardMap& map : maps) {
            DealKey key{};
            for (std::size_t p = 0; p < players; ++p) {
                const std::uint8_t a = map[combos[d * players + p].first], b = map[combos[d * players + p].second];
                key[2 * p] = std::max(a, b);
                key[2 * p + 1] = std::min(a, b);
            }
            smallest = std::min(smallest, key);
        }
        const auto [it, added] = known.try_emplace(smallest, static_cast<std::uint32_t>(classes.representative.size()));
        if (added) classes.representative.push_back(static_cast<std::uint32_t>(d));
        classes.class_of[d] = it->second;
    }
    return classes;
}

}  // namespace tavrix::equity
