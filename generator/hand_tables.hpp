// The three lookup tables the module scores hands with.
#pragma once

#include <cstdint>
#include <vector>

namespace tavrix::generator {

inline constexpr std::size_t FLUSH_TABLE_SIZE = 1u << 13;

struct HandTables {
    std::vector<std::uint16_t> rank_table;  // score at rank_key + offsets[rank_key >> 12]
    std::vector<std::uint16_t> flush_table; // score of the ranks of a flush suit, by rank bit set
    std::vector<std::uint32_t> offsets;     // one per 4096-key row of rank keys
};

HandTables build_hand_tables();

}  // namespace tavrix::generator
