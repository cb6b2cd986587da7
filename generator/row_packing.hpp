// Row-displacement packing of a sparse set of 32-bit keys.
//
// Keys are split into rows of 4096 consecutive values (row = key >> 12).
// Every row gets one offset; key k is stored at k + offsets[k >> 12] with
// 32-bit wrap-around. The packer picks offsets so that no two keys share a
// slot and the highest used slot is as low as it can find.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tavrix::generator {

inline constexpr unsigned ROW_BITS = 12;
inline constexpr std::uint32_t ROW_WIDTH = 1u << ROW_BITS;

struct RowPacking {
    std::vector<std::uint32_t> offsets;  // one per row
    std::size_t table_size = 0;          // highest used slot + 1
};

// `keys` must be distinct and below row_count * ROW_WIDTH. Deterministic:
// the same keys always give the same offsets.
RowPacking pack_rows(const std::vector<std::uint32_t>& keys, std::size_t row_count);

}  // namespace tavrix::generator
