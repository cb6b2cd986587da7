// Random deals for simulations: rows of distinct cards drawn from the deck.
#pragma once

#include <cstddef>
#include <cstdint>

#include "equity_engine/equity_runs.hpp"

namespace tavrix::equity {

// Rows are dealt in blocks of this many, block b from the stream seeded by
// (seed, b), so the cards depend on the seed alone, not on the thread count.
inline constexpr std::size_t DEAL_ROWS_PER_BLOCK = 8192;

// Fills `out` (rows x width, row-major) with rows of `width` distinct cards,
// each row uniform over the ordered draws from the cards not in
// `excluded_mask`. Requires width <= the cards left.
void deal_random_rows(std::uint8_t* out, std::size_t rows, std::size_t width, std::uint64_t excluded_mask,
                      std::uint64_t seed, unsigned threads, const KeepGoing& keep_going);

}  // namespace tavrix::equity
