// Heads-up equity of two weighted ranges by sweeping boards: every completion
// of the board (one per class of completions equal under a permutation of
// suits that leaves both ranges, the board and the dead cards as they are) is
// swept once for every pair of combos at the same time (see board_sweep.hpp).
#pragma once

#include <cstdint>
#include <vector>

#include "equity_engine/equity_runs.hpp"

namespace tavrix::equity {

// Per combo of one player, in the order of the request: the opponent's weight
// beaten, tied and met, summed over every completion of the board.
struct ComboSums {
    std::vector<double> wins, ties, boards;
};

struct SweepEquity {
    EquityTotals totals;     // as exact_equity reports them for the two players
    ComboSums hero, villain;  // villain is filled only when both tables are asked for
    std::uint64_t boards_swept = 0;  // one per class of completions, or per board drawn
    std::vector<double> std_error;   // sampled runs: per player
};

// Exact equity of a two-player request through the sweep. Unweighted ranges
// give exactly the integers of exact_equity; weights are scaled to integers
// and summed exactly, so results agree with exact arithmetic on the given
// weights to a few units in the last place. Throws NoDeal when no deal is
// possible; combos that meet a fixed card get zero sums.
SweepEquity sweep_equity(const EquityRequest& request, bool both_tables, unsigned threads, const KeepGoing& keep_going);

// Monte Carlo on the sweep: `boards` boards drawn at random (block b of 64
// from the stream seeded by (seed, b)), each swept for every pair of combos.
// Totals are weighted sums as for exact runs; std_error per player.
SweepEquity sampled_sweep_equity(const EquityRequest& request, std::uint64_t boards, std::uint64_t seed,
                                 unsigned threads, const KeepGoing& keep_going);

// Whether sampling boards and sweeping them gives a smaller standard error
// than sampling deals for the same work, judged by a short pilot of each
// (deterministic given the seed); and how many boards cost what `trials`
// deals do.
bool sampled_sweep_is_better(const EquityRequest& request, std::uint64_t seed, const KeepGoing& keep_going);
std::uint64_t sampled_sweep_boards(const EquityRequest& request, std::uint64_t trials);

// Estimated work of the two exact paths for a two-player request, in table
// reads: exact_equity counts every deal on every board, the sweep every
// live combo on every class of boards.
double deal_path_cost(const EquityRequest& request);
double sweep_path_cost(const EquityRequest& request);

enum class ExactPath { cheaper, deals, sweep };

// Exact equity by the path asked for; `cheaper` compares the two estimates.
// Three or more players always go deal by deal.
EquityTotals exact_equity_any_path(const EquityRequest& request, unsigned threads, const KeepGoing& keep_going,
                                   ExactPath path = ExactPath::cheaper);

}  // namespace tavrix::equity
