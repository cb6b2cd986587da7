#include "equity_engine/batch_scoring.hpp"

#include "equity_engine/table_view.hpp"

namespace tavrix::equity {

std::optional<BadRow> score_card_rows(const std::int64_t* cards, std::size_t rows, std::size_t width,
                                      std::uint16_t* scores) {
    const TableView tables = table_view();
    bool fault = false;
    for (std::size_t row = 0; row < rows; ++row) {
        const std::int64_t* row_cards = cards + row * width;
        HandValue hand = EMPTY_HAND;
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < width; ++i) {
            const std::int64_t card = row_cards[i];
            if (card < 0 || card >= CARD_COUNT) [[unlikely]]
                return BadRow{row, "card index " + std::to_string(card) + " is outside 0 to 51"};
            const std::uint64_t bit = std::uint64_t{1} << card;
            if (seen & bit) [[unlikely]]
                return BadRow{row, "card index " + std::to_string(card) + " appears twice"};
            seen |= bit;
            hand = combine(hand, CARD_TABLE[card]);
        }
        scores[row] = tables.score(hand, fault);
        if (fault) [[unlikely]]
            return BadRow{row, "the lookup tables do not cover this hand: they are damaged"};
    }
    return std::nullopt;
}

std::optional<std::size_t> score_word_pairs(const std::uint64_t* keys, const std::uint64_t* masks,
                                            std::size_t count, std::uint16_t* scores) {
    const TableView tables = table_view();
    bool fault = false;
    for (std::size_t i = 0; i < count; ++i) {
        scores[i] = tables.score(keys[i], masks[i], fault);
        if (fault) [[unlikely]]
            return i;
    }
    return std::nullopt;
}

}  // namespace tavrix::equity
