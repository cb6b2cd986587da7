#include "equity_engine/batch_scoring.hpp"

#include <array>
#include <bit>
#include <stdexcept>
#include <utility>
#include <vector>

#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/table_view.hpp"

namespace tavrix::equity {

namespace {

// Why a row failed, worked out again only once a row is known to be bad.
template <typename Card>
BadRow describe_bad_row(const Card* row_cards, std::size_t width, std::size_t row) {
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const std::int64_t card = row_cards[i];
        if (card < 0 || card >= CARD_COUNT) return {row, "card index " + std::to_string(card) + " is outside 0 to 51"};
        const std::uint64_t bit = std::uint64_t{1} << card;
        if (seen & bit) return {row, "card index " + std::to_string(card) + " appears twice"};
        seen |= bit;
    }
    return {row, "the lookup tables do not cover this hand: they are damaged"};
}

// Card words indexed by any byte: entries past the deck are zero, so such a
// card adds no mask bit and the row's mask count comes out short.
constexpr std::array<HandValue, 256> make_padded_cards() {
    std::array<HandValue, 256> table{};
    for (unsigned i = 0; i < CARD_COUNT; ++i) table[i] = CARD_TABLE[i];
    return table;
}
constexpr std::array<HandValue, 256> PADDED_CARDS = make_padded_cards();

// The row width is a template parameter so the per-card loop unrolls. A row is
// sound exactly when its mask holds Width bits: each card in the deck sets its
// own bit, a repeated card sets no new one and a card outside the deck none.
template <std::size_t Width, typename Card>
std::optional<BadRow> score_rows(const TableView& tables, const Card* cards, std::size_t first, std::size_t last,
                                 std::uint16_t* scores) {
    for (std::size_t row = first; row < last; ++row) {
        const Card* row_cards = cards + row * Width;
        HandValue hand = EMPTY_HAND;
        for (std::size_t i = 0; i < Width; ++i) {
            const auto card = static_cast<std::uint64_t>(row_cards[i]);
            hand = combine(hand, PADDED_CARDS[card < CARD_COUNT ? card : CARD_COUNT]);
        }
        bool fault = static_cast<std::size_t>(std::popcount(hand.mask)) != Width;
        scores[row] = tables.score(hand, fault);
        if (fault) [[unlikely]]
            return describe_bad_row(row_cards, Width, row);
    }
    return std::nullopt;
}

template <typename Card, std::size_t... Widths>
std::optional<BadRow> score_rows_of_width(std::size_t width, const TableView& tables, const Card* cards,
                                          std::size_t first, std::size_t last, std::uint16_t* scores,
                                          std::index_sequence<Widths...>) {
    std::optional<BadRow> result;
    ((width == Widths ? (result = score_rows<Widths>(tables, cards, first, last, scores), true) : false) || ...);
    return result;
}

}  // namespace

template <typename Card>
std::optional<BadRow> score_card_rows(const Card* cards, std::size_t rows, std::size_t width, std::uint16_t* scores,
                                      unsigned threads, const KeepGoing& keep_going) {
    if (width > MAX_HAND_CARDS) throw std::invalid_argument("a hand holds at most 7 cards");
    const TableView tables = table_view();
    return score_in_chunks<BadRow>(rows, threads, keep_going, [&](std::size_t first, std::size_t last) {
        return score_rows_of_width(width, tables, cards, first, last, scores,
                                   std::make_index_sequence<MAX_HAND_CARDS + 1>{});
    });
}

template std::optional<BadRow> score_card_rows(const std::int64_t*, std::size_t, std::size_t, std::uint16_t*,
                                               unsigned, const KeepGoing&);
template std::optional<BadRow> score_card_rows(const std::uint8_t*, std::size_t, std::size_t, std::uint16_t*,
                                               unsigned, const KeepGoing&);

std::optional<std::size_t> score_word_pairs(const std::uint64_t* keys, const std::uint64_t* masks,
                                            std::size_t count, std::uint16_t* scores, unsigned threads,
                                            const KeepGoing& keep_going) {
    const TableView tables = table_view();
    return score_in_chunks<std::size_t>(
        count, threads, keep_going, [&](std::size_t first, std::size_t last) -> std::optional<std::size_t> {
            bool fault = false;
            for (std::size_t i = first; i < last; ++i) {
                scores[i] = tables.score(keys[i], masks[i], fault);
                if (fault) [[unlikely]]
                    return i;
            }
            return std::nullopt;
        });
}

}  // namespace tavrix::equity
