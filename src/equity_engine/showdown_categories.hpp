// How often each player's final hand is each of the nine score categories,
// and how often it wins or ties with each: exact (every deal, every board)
// or Monte Carlo, independent of the thread count.
#pragma once

#include <cstdint>
#include <vector>

#include "equity_engine/equity_runs.hpp"

namespace tavrix::equity {

inline constexpr int CATEGORIES = 9;

// Deal-weighted board counts, players x CATEGORIES, row-major.
struct CategoryTotals {
    std::vector<double> final_hand;
    std::vector<double> winning;
    double boards = 0;
};

CategoryTotals exact_showdown_categories(const EquityRequest& request, unsigned threads, const KeepGoing& keep_going);

CategoryTotals sampled_showdown_categories(const EquityRequest& request, std::uint64_t trials, std::uint64_t seed,
                                           unsigned threads, const KeepGoing& keep_going);

}  // namespace tavrix::equity
