#include "equity_engine/deal.hpp"

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
    if (players.size() < 2 || players.size() > MAX_PLAYERS)
        throw std::invalid_argument("equity needs 2 to 10 players, got " + std::to_string(players.size()));
    if (board.size() > BOARD_CARDS)
        throw std::invalid_argument("a board has at most 5 cards, got " + std::to_string(board.size()));
    for (const std::uint8_t card : board) check_card(card, "board");
    if (dead_mask >> CARD_COUNT) throw std::invalid_argument("dead cards must be card indices 0 to 51");
    const std::uint64_t fixed = board_mask();
    if (std::popcount(fixed) != static_cast<int>(board.size()) || (fixed & dead_mask))
        throw std::invalid_argument("the board and the dead cards share a card");
    for (const PlayerCombos& player : players) {
        if (player.combos.empty() || player.combos.size() != player.weights.size())
            throw std::invalid_argument("every player needs at least one combo, each with a weight");
        for (std::size_t i = 0; i < player.combos.size(); ++i) {
            const Combo combo = player.combos[i];
            check_card(combo.first, "hole");
            check_card(combo.second, "hole");
            if (combo.first == combo.second) throw std::invalid_argument("a hand holds two different cards");
            if (!(player.weights[i] > 0) || player.weights[i] > 1e300)
                throw std::invalid_argument("combo weights must be positive and finite");
        }
    }
    const int left = CARD_COUNT - std::popcount(fixed | dead_mask) - 2 * static_cast<int>(players.size());
    if (left < BOARD_CARDS - static_cast<int>(board.size()))
        throw std::invalid_argument("too few cards left to complete the board");
}

}  // namespace tavrix::equity
