#include "equity_engine/deal.hpp"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <string>

namespace tavrix::equity {
namespace {

void check_card(unsigned card, const char* what) {
    if (card >= CARD_COUNT)
        throw std::invalid_argument(std::string(what) + " card index " + std::to_string(card) + " is outside 0 to 51");
}

}  // namespace

std::uint64_t EquityRequest::board_mask() const noexcept {
    std::uint64_t mask = 0;
    for (const std::uint8_t card : board) mask |= std::uint64_t{1} << card;
    return mask;
}

HandValue EquityRequest::board_words() const noexcept {
    HandValue words = EMPTY_HAND;
    for (const std::uint8_t card : board) words = combine(words, CARD_TABLE[card]);
    return words;
}

void EquityRequest::validate() const {
    if (players.size() < MIN_PLAYERS || players.size() > MAX_PLAYERS)
        throw std::invalid_argument("equity needs " + std::to_string(MIN_PLAYERS) + " to " + std::to_string(MAX_PLAYERS) +
                                    " players, not " + std::to_string(players.size()));
    if (board.size() > BOARD_CARDS)
        throw std::invalid_argument("a board has at most " + std::to_string(BOARD_CARDS) + " cards, not " +
                                    std::to_string(board.size()));
    for (const std::uint8_t card : board) check_card(card, "board");
    if (dead_mask >> CARD_COUNT) throw std::invalid_argument("dead cards must be card indices 0 to 51");
    const std::uint64_t fixed = board_mask();
    if (std::popcount(fixed) != static_cast<int>(board.size()) || (fixed & dead_mask))
        throw std::invalid_argument("the board and the dead cards share a card");
    for (std::size_t p = 0; p < players.size(); ++p) {
        const PlayerCombos& player = players[p];
        if (player.combos.size() != player.weights.size())
            throw std::invalid_argument("every combo needs a weight");
        for (std::size_t i = 0; i < player.combos.size(); ++i) {
            const Combo combo = player.combos[i];
            check_card(combo.first, "hole");
            check_card(combo.second, "hole");
            if (combo.first == combo.second) throw std::invalid_argument("a hand holds two different cards");
            if (!(player.weights[i] > 0) || player.weights[i] > 1e300)
                throw std::invalid_argument("combo weights must be positive and finite");
        }
    }
    const int left = CARD_COUNT - std::popcount(fixed | dead_mask) - HAND_CARDS * static_cast<int>(players.size());
    const int needed = BOARD_CARDS - static_cast<int>(board.size());
    if (left < needed)
        throw std::invalid_argument("too few cards left to complete the board: " + std::to_string(std::max(left, 0)) +
                                    " left, " + std::to_string(needed) + " needed");
    for (std::size_t p = 0; p < players.size(); ++p)
        if (players[p].combos.empty())
            throw NoDeal("player " + std::to_string(p + 1) + " has no combo left beside the board and the dead cards");
}

}  // namespace tavrix::equity
