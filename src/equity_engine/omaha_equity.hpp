// Omaha equity of two to ten players holding 4, 5 or 6 hole cards, high or
// high-low eight or better: exact (every deal, every completion of the board)
// or Monte Carlo, on worker threads, with results independent of the thread
// count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "equity_engine/equity_runs.hpp"

namespace tavrix::equity {

struct OmahaPlayer {
    std::vector<std::uint8_t> cards;  // hole_cards per hand, hand after hand
    std::vector<double> weights;      // one per hand, each > 0
    bool random = false;              // any hand of the cards left, all equally likely (cards, weights empty)

    std::size_t hands() const noexcept { return weights.size(); }
};

struct OmahaRequest {
    int hole_cards = 4;
    bool high_low = false;
    std::vector<OmahaPlayer> players;
    std::vector<std::uint8_t> board;  // 0 to 5 cards
    std::uint64_t dead_mask = 0;

    // Throws std::invalid_argument for anything malformed: player count, hole
    // card count, card indices, a card twice, too few cards left.
    void validate() const;
};

// A high-low pot splits in halves, and a half among up to ten players: shares
// count in 1/POT_UNITS of a pot so that every one is an integer.
inline constexpr std::uint64_t POT_UNITS = 2 * SHARE_UNITS;

// pot: wins and ties count the boards where the player takes the whole pot
// alone, and a part of it; shares are in POT_UNITS. The halves count the
// boards where the player alone or with others has the best high and the
// best qualifying low (high-low games only: zero otherwise).
struct OmahaTotals {
    EquityTotals pot;
    std::vector<double> high_wins, high_ties, low_wins, low_ties;

    explicit OmahaTotals(std::size_t players = 0)
        : pot(players), high_wins(players), high_ties(players), low_wins(players), low_ties(players) {}
};

// Exact runs refuse more deals times boards times players than this: about
// a few minutes of one thread.
inline constexpr double MAX_OMAHA_SHOWDOWNS = 4e9;

// Called from the waiting thread as work items finish: first with done 0,
// last with done == total. Returning false stops the run (Cancelled).
using Progress = std::function<bool(std::size_t done, std::size_t total)>;

OmahaTotals omaha_exact_equity(const OmahaRequest& request, unsigned threads, const KeepGoing& keep_going,
                               const Progress& progress = {});

OmahaTotals omaha_monte_carlo_equity(const OmahaRequest& request, std::uint64_t trials, std::uint64_t seed,
                                     unsigned threads, const KeepGoing& keep_going, const Progress& progress = {});

}  // namespace tavrix::equity
