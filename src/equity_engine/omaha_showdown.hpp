// One Omaha board at showdown: every player's high (and low) on the board,
// the pot split between them, counted in integers.
#pragma once

#include <array>
#include <cstdint>

#include "equity_engine/omaha_equity.hpp"
#include "equity_engine/omaha_hand.hpp"
#include "equity_engine/showdown.hpp"

namespace tavrix::equity {

// The board's cards as the walk over completions adds them.
struct BoardCards {
    std::array<std::uint8_t, OMAHA_BOARD> cards;
    int count;
};

constexpr BoardCards combine(BoardCards board, std::uint8_t card) noexcept {
    board.cards[board.count++] = card;
    return board;
}

// POT_SHARE[k]: each of k winners' share of a whole pot, in POT_UNITS; a
// half is SHARE_UNITS, so UNIT_SHARE[k] is each one's share of a half.
inline constexpr std::array<std::uint64_t, MAX_PLAYERS + 1> POT_SHARE = {
    0, 5040, 2520, 1680, 1260, 1008, 840, 720, 630, 560, 504};
static_assert(POT_UNITS == 5040 && SHARE_UNITS == 2520);

template <int Players>
struct OmahaCounts {
    std::array<std::uint64_t, Players> wins{}, ties{}, shares{}, share_squares{};
    std::array<std::uint64_t, Players> high_wins{}, high_ties{}, low_wins{}, low_ties{};
    std::uint64_t boards = 0;
};

template <int Players, bool HighLow, bool TrackSquares>
struct OmahaShowdown {
    const OmahaScorer& scorer;
    std::array<OmahaHole, Players> holes;
    OmahaCounts<Players> counts;

    void operator()(const BoardCards& cards) noexcept { settle(make_board(cards.cards.data())); }

    void settle(const OmahaBoard& board) noexcept {
        std::array<std::uint16_t, Players> high;
        std::uint16_t best_high = 0;
        for (int p = 0; p < Players; ++p) {
            high[p] = scorer.high(holes[p], board);
            best_high = high[p] > best_high ? high[p] : best_high;
        }
        unsigned high_winners = 0;
        for (int p = 0; p < Players; ++p) high_winners += high[p] == best_high;
        std::array<std::uint64_t, Players> share;
        if constexpr (HighLow) {
            std::array<std::uint8_t, Players> low;
            std::uint8_t best_low = 0;
            for (int p = 0; p < Players; ++p) {
                low[p] = scorer.low(holes[p], board);
                best_low = low[p] > best_low ? low[p] : best_low;
            }
            unsigned low_winners = 0;
            for (int p = 0; p < Players; ++p) low_winners += best_low != 0 && low[p] == best_low;
            // Without a qualifying low the high takes the whole pot.
            const std::uint64_t high_share = best_low ? UNIT_SHARE[high_winners] : POT_SHARE[high_winners];
            for (int p = 0; p < Players; ++p) {
                const std::uint64_t top_high = high[p] == best_high;
                const std::uint64_t top_low = best_low != 0 && low[p] == best_low;
                share[p] = top_high * high_share + top_low * UNIT_SHARE[low_winners];
                counts.high_wins[p] += top_high & (high_winners == 1);
                counts.high_ties[p] += top_high & (high_winners != 1);
                counts.low_wins[p] += top_low & (low_winners == 1);
                counts.low_ties[p] += top_low & (low_winners != 1);
            }
        } else {
            for (int p = 0; p < Players; ++p) share[p] = (high[p] == best_high) * POT_SHARE[high_winners];
        }
        for (int p = 0; p < Players; ++p) {
            counts.wins[p] += share[p] == POT_UNITS;
            counts.ties[p] += share[p] != 0 && share[p] != POT_UNITS;
            counts.shares[p] += share[p];
            if constexpr (TrackSquares) counts.share_squares[p] += share[p] * share[p];
        }
        ++counts.boards;
    }
};

}  // namespace tavrix::equity
