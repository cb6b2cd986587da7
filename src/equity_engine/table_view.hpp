// Scoring without panics, for code that must turn a bad pair into an error of
// its own (a position in a batch, a fault flag in a worker) rather than a
// report on stderr.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "hand_evaluator/hand_value.hpp"

namespace tavrix::equity {

// Plain pointers into the process's tables: copied onto each worker's stack so
// the inner loops read them without any check of their own.
struct TableView {
    const std::uint16_t* rank_table;
    const std::uint16_t* flush_table;
    const std::uint32_t* offsets;
    std::uint32_t rank_size;
    std::uint32_t flush_size;
    std::uint32_t offsets_size;

    // The same reads as score_hand; a read outside a table sets `fault` and
    // gives 0 instead of panicking.
    std::uint16_t score(std::uint64_t key, std::uint64_t mask, bool& fault) const noexcept {
        if (has_flush(key)) {
            const std::uint16_t flush = flush_group(key, mask);
            if (flush >= flush_size) [[unlikely]] {
                fault = true;
                return 0;
            }
            return flush_table[flush];
        }
        const std::uint32_t rank = static_cast<std::uint32_t>(key);
        const std::uint32_t row = rank >> 12;
        if (row >= offsets_size) [[unlikely]] {
            fault = true;
            return 0;
        }
        const std::uint32_t index = rank + offsets[row];
        if (index >= rank_size) [[unlikely]] {
            fault = true;
            return 0;
        }
        return rank_table[index];
    }

    std::uint16_t score(HandValue hand, bool& fault) const noexcept { return score(hand.key, hand.mask, fault); }
};

// The tables this build scores with: linked into the program
// (embedded_tables.cpp), or loaded from the table directory on first use,
// where a failed load panics on the calling thread (file_tables.cpp).
TableView table_view();

// FNV-1a over the three tables and their sizes, as 16 hex digits: tells
// apart results computed with different table builds.
std::string table_digest();

}  // namespace tavrix::equity
