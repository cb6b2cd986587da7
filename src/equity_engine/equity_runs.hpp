// Equity of two to ten players: exact (every deal, every completion of the
// board) or Monte Carlo (random deals and boards). Both run on worker threads
// and give results that do not depend on the thread count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>

#include "equity_engine/deal.hpp"

namespace tavrix::equity {

using KeepGoing = std::function<bool()>;

// A read outside a lookup table while scoring valid cards: the tables are damaged.
class TableFault : public std::runtime_error {
public:
    TableFault() : std::runtime_error("the lookup tables gave no score for a valid hand: they are damaged") {}
};

// Exact runs enumerate at most this many deals (player combos that share no card).
inline constexpr std::size_t MAX_EXACT_DEALS = 4'000'000;

// Trials are drawn in blocks of this size, block b from a stream seeded by (seed, b).
inline constexpr std::uint64_t TRIALS_PER_BLOCK = 1 << 16;
inline constexpr std::uint64_t MAX_TRIALS = std::uint64_t{1} << 40;

EquityTotals exact_equity(const EquityRequest& request, unsigned threads, const KeepGoing& keep_going);

EquityTotals monte_carlo_equity(const EquityRequest& request, std::uint64_t trials, std::uint64_t seed,
                                unsigned threads, const KeepGoing& keep_going);

// Preflop heads-up counts for `count` rows of four distinct cards [a1 a2 b1 b2]:
// out[3i..3i+2] = wins of a, wins of b, ties, over all 1,712,304 boards.
void heads_up_counts(const std::uint8_t* rows, std::size_t count, std::uint64_t* out, unsigned threads,
                     const KeepGoing& keep_going);

}  // namespace tavrix::equity
