#include "equity_engine/omaha_scoring.hpp"

#include <bit>
#include <stdexcept>
#include <string>

#include "equity_engine/omaha_hand.hpp"

namespace tavrix::equity {
namespace {

// Why a row failed, worked out again only once a row is known to be bad.
template <typename Card>
BadRow describe_bad_row(const Card* hole, std::size_t width, const Card* board, std::size_t row) {
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < width + OMAHA_BOARD; ++i) {
        const std::int64_t card = i < width ? hole[i] : board[i - width];
        const char* where = i < width ? "hole" : "board";
        if (card < 0 || card >= CARD_COUNT)
            return {row, std::string(where) + " card index " + std::to_string(card) + " is outside 0 to 51"};
        const std::uint64_t bit = std::uint64_t{1} << card;
        if (seen & bit) return {row, "card index " + std::to_string(card) + " appears twice in the hole cards and board"};
        seen |= bit;
    }
    return {row, "the row is not a valid hand"};
}

// The mask of the cards, and the cards as bytes. A card outside the deck adds
// no bit, so a bad row's mask comes out short.
template <typename Card>
std::uint64_t read_cards(const Card* cards, std::size_t count, std::uint8_t* out) noexcept {
    std::uint64_t mask = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto card = static_cast<std::uint64_t>(static_cast<std::int64_t>(cards[i]));
        const bool inside = card < CARD_COUNT;
        out[i] = static_cast<std::uint8_t>(inside ? card : 0);
        mask |= std::uint64_t{inside} << (inside ? card : 0);
    }
    return mask;
}

template <std::size_t Width, typename Card>
std::optional<BadRow> score_rows(const OmahaScorer& scorer, const Card* holes, const Card* boards, bool one_board,
                                 std::size_t first, std::size_t last, std::uint16_t* highs, std::uint16_t* lows) {
    std::uint8_t board_cards[OMAHA_BOARD];
    std::uint64_t board_mask = 0;
    OmahaBoard board{};
    if (one_board) {
        board_mask = read_cards(boards, OMAHA_BOARD, board_cards);
        board = make_board(board_cards);
    }
    for (std::size_t row = first; row < last; ++row) {
        const Card* row_board = one_board ? boards : boards + row * OMAHA_BOARD;
        if (!one_board) board_mask = read_cards(row_board, OMAHA_BOARD, board_cards);
        std::uint8_t hole_cards[Width];
        const std::uint64_t hole_mask = read_cards(holes + row * Width, Width, hole_cards);
        if (std::popcount(hole_mask) + std::popcount(board_mask) != static_cast<int>(Width + OMAHA_BOARD) ||
            (hole_mask & board_mask)) [[unlikely]]
            return describe_bad_row(holes + row * Width, Width, row_board, row);
        if (!one_board) board = make_board(board_cards);
        const OmahaHole hole = make_hole(hole_cards, Width);
        highs[row] = scorer.high(hole, board);
        if (lows) lows[row] = scorer.low(hole, board);
    }
    return std::nullopt;
}

}  // namespace

template <typename Card>
std::optional<BadRow> score_omaha_rows(const Card* holes, std::size_t rows, std::size_t width, const Card* boards,
                                       bool one_board, std::uint16_t* highs, std::uint16_t* lows, unsigned threads,
                                       const KeepGoing& keep_going) {
    if (width < MIN_OMAHA_HOLE || width > MAX_OMAHA_HOLE)
        throw std::invalid_argument("an Omaha hand holds 4, 5 or 6 hole cards, not " + std::to_string(width));
    const OmahaScorer scorer;
    return score_in_chunks<BadRow>(rows, threads, keep_going, [&](std::size_t first, std::size_t last) {
        switch (width) {
            case 4: return score_rows<4>(scorer, holes, boards, one_board, first, last, highs, lows);
            case 5: return score_rows<5>(scorer, holes, boards, one_board, first, last, highs, lows);
            default: return score_rows<6>(scorer, holes, boards, one_board, first, last, highs, lows);
        }
    });
}

template std::optional<BadRow> score_omaha_rows(const std::int64_t*, std::size_t, std::size_t, const std::int64_t*,
                                                bool, std::uint16_t*, std::uint16_t*, unsigned, const KeepGoing&);
template std::optional<BadRow> score_omaha_rows(const std::uint8_t*, std::size_t, std::size_t, const std::uint8_t*,
                                                bool, std::uint16_t*, std::uint16_t*, unsigned, const KeepGoing&);

}  // namespace tavrix::equity
