// What an equity run is asked: each player's possible hole cards with their
// weights, the board so far and the cards out of play.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "hand_evaluator/hand_value.hpp"

namespace tavrix::equity {

// The limits of a request, exported to Python as they are.
inline constexpr int MIN_PLAYERS = 2;
inline constexpr int MAX_PLAYERS = 10;
inline constexpr int BOARD_CARDS = 5;
inline constexpr int HAND_CARDS = 2;
// A tie among k players gives each 1/k of a board: counting in units of
// 1/2520 (the lcm of 1..10) keeps every share an exact integer.
inline constexpr std::uint64_t SHARE_UNITS = 2520;

struct Combo {
    std::uint8_t first;
    std::uint8_t second;

    constexpr std::uint64_t mask() const noexcept {
        return (std::uint64_t{1} << first) | (std::uint64_t{1} << second);
    }
};

// No deal is possible: a player has no combo, or every combination of the
// players' combos shares a card with another player, the board or the dead
// cards.
class NoDeal : public std::invalid_argument {
public:
    NoDeal() : std::invalid_argument("no possible deal: every combination of the players' hands shares a card") {}
    explicit NoDeal(const std::string& why) : std::invalid_argument("no possible deal: " + why) {}
};

// A hand is a player with one combo of weight 1.
struct PlayerCombos {
    std::vector<Combo> combos;
    std::vector<double> weights;  // each > 0, one per combo
};

struct EquityRequest {
    std::vector<PlayerCombos> players;
    std::vector<std::uint8_t> board;  // 0 to 5 cards
    std::uint64_t dead_mask = 0;

    std::uint64_t board_mask() const noexcept;
    // The board's cards added to EMPTY_HAND: the start of every board to complete.
    HandValue board_words() const noexcept;
    // Throws std::invalid_argument for anything malformed: player count, card
    // indices, cards shared by the board and the dead cards, too few cards left.
    void validate() const;
};

// Sums over every counted board (exact) or trial (Monte Carlo), each weighted
// by its deal's weight. shares are in units of 1/SHARE_UNITS board.
struct EquityTotals {
    std::vector<double> wins;
    std::vector<double> ties;
    std::vector<double> shares;
    std::vector<double> share_squares;  // Monte Carlo only: sum of squared shares, in units squared
    double boards = 0;

    explicit EquityTotals(std::size_t players = 0)
        : wins(players), ties(players), shares(players), share_squares(players) {}
};

inline HandValue hole_words(Combo combo) {
    return combine(CARD_TABLE[combo.first], CARD_TABLE[combo.second]);
}

}  // namespace tavrix::equity
