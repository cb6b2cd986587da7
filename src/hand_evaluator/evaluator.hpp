// Scoring: the three lookup tables, loaded once per process on first use, and
// score_hand, the routine every evaluate and every pair of a batch goes through.
#pragma once

#include <cstdint>

#include "hand_evaluator/panic.hpp"
#include "hand_evaluator/hand_value.hpp"
#include "hand_evaluator/once.hpp"
#include "hand_evaluator/read_file.hpp"

namespace tavrix {

struct LookupTables {
    TableArray<std::uint16_t> rank_table;
    TableArray<std::uint16_t> flush_table;
    TableArray<std::uint32_t> offsets;
};

namespace detail {
extern OnceGuard tables_once;
extern LookupTables tables;
const LookupTables& load_tables_once();
[[noreturn]] void flush_key_out_of_bounds(std::size_t len, std::size_t index);
[[noreturn]] void row_out_of_bounds(std::size_t len, std::size_t index);
[[noreturn]] void rank_index_out_of_bounds(std::size_t len, std::size_t index);
}  // namespace detail

// The process's tables; the first call loads them and a failed load panics.
inline const LookupTables& lookup_tables() {
    if (detail::tables_once.is_complete()) [[likely]]
        return detail::tables;
    return detail::load_tables_once();
}

// A flush reads flush_table at the flush suit's rank bits; anything else reads
// rank_table at the rank key plus its row's displacement (32-bit wrapping).
inline std::uint16_t score_hand(std::uint64_t key, std::uint64_t mask) {
    const LookupTables& tables = lookup_tables();
    if (has_flush(key)) {
        const std::uint16_t flush = flush_group(key, mask);
        if (flush >= tables.flush_table.size) [[unlikely]]
            detail::flush_key_out_of_bounds(tables.flush_table.size, flush);
        return tables.flush_table.data[flush];
    }
    const std::uint32_t rank = static_cast<std::uint32_t>(key);
    const std::uint32_t row = rank >> 12;
    if (row >= tables.offsets.size) [[unlikely]]
        detail::row_out_of_bounds(tables.offsets.size, row);
    const std::uint32_t index = rank + tables.offsets.data[row];
    if (index >= tables.rank_table.size) [[unlikely]]
        detail::rank_index_out_of_bounds(tables.rank_table.size, index);
    return tables.rank_table.data[index];
}

}  // namespace tavrix
