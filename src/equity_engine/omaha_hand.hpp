// Omaha hands: the best five cards made of exactly two hole cards and exactly
// three board cards, high (the tavrix score order) and eight-or-better low.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "equity_engine/table_view.hpp"
#include "hand_evaluator/hand_value.hpp"

namespace tavrix::equity {

inline constexpr int MIN_OMAHA_HOLE = 4;
inline constexpr int MAX_OMAHA_HOLE = 6;
inline constexpr int OMAHA_BOARD = 5;

// A low is the set of its five ranks as bits (ace bit 0, deuce bit 1, ...,
// eight bit 7); a smaller set value is a better low. LOW_SCORE_BASE minus
// that value makes larger better and leaves 0 for no qualifying low.
inline constexpr unsigned LOW_SCORE_BASE = 256;

// The low-rank bit of a card, 0 for a nine or higher.
constexpr std::uint8_t low_rank_bit(unsigned card) noexcept {
    const unsigned rank = card >> 2;
    if (rank == 12) return 1;
    return rank <= 6 ? static_cast<std::uint8_t>(1u << (rank + 1)) : 0;
}

// Every pair of hole ranks (lower, higher) has an index below RANK_PAIRS.
inline constexpr int RANK_PAIRS = 91;
constexpr int rank_pair_index(unsigned lower, unsigned higher) noexcept {
    return static_cast<int>(higher * (higher + 1) / 2 + lower);
}

struct OmahaHole {
    std::array<std::uint8_t, 15> pair_index;  // the rank pair of each two hole cards
    int pairs;
    std::array<std::uint16_t, 4> suit_ranks;  // rank bits of the hole cards of each suit
    std::uint8_t low_ranks;                   // low-rank bits of the hole cards
};

struct OmahaBoard {
    std::uint32_t pair_row;                       // where the board's row of best_with_pair starts
    int flush_suit;           // the suit with three or more cards, or -1
    std::uint16_t flush_ranks;  // rank bits of the cards of that suit
    std::uint8_t low_ranks;
};

OmahaHole make_hole(const std::uint8_t* cards, int count) noexcept;
OmahaBoard make_board(const std::uint8_t* cards) noexcept;

// The best low of every (hole low ranks, board low ranks) pair: a 64 KiB table
// built on first use, LOW_SCORE_BASE - set value, or 0 for none.
const std::uint8_t* low_table();

// Scores prepared hands on prepared boards. The best hand without a flush
// depends only on the ranks: for every multiset of five board ranks and every
// pair of hole ranks, a table built once from the tavrix tables holds the best
// score of the pair with any three of the board's cards, so a hand costs one
// read per pair of hole cards instead of one per pair and board triple. Only
// a board with three cards of a suit adds flush reads.
class OmahaScorer {
public:
    // Loads the tables and builds the pair table on first use; throws
    // TableFault when the tables do not cover every five-card hand.
    OmahaScorer();

    std::uint16_t high(const OmahaHole& hole, const OmahaBoard& board) const noexcept {
        const std::uint16_t* row = best_with_pair_ + board.pair_row;
        std::uint16_t best = 0;
        for (int i = 0; i < hole.pairs; ++i) {
            const std::uint16_t score = row[hole.pair_index[i]];
            best = score > best ? score : best;
        }
        if (board.flush_suit >= 0) [[unlikely]]
            best = flush_high(hole.suit_ranks[board.flush_suit], board, best);
        return best;
    }

    std::uint8_t low(const OmahaHole& hole, const OmahaBoard& board) const noexcept {
        return lows_[hole.low_ranks * 256u + board.low_ranks];
    }

private:
    // Every pair of the hole cards of the board's flush suit with every three
    // board cards of it; rare, and only then worth the loops.
    std::uint16_t flush_high(std::uint16_t hole_ranks, const OmahaBoard& board, std::uint16_t best) const noexcept {
        if (std::popcount(hole_ranks) < 2) return best;
        for (unsigned h1 = hole_ranks; h1; h1 &= h1 - 1)
            for (unsigned h2 = h1 & (h1 - 1); h2; h2 &= h2 - 1) {
                const unsigned pair = (h1 & -h1) | (h2 & -h2);
                for (unsigned b1 = board.flush_ranks; b1; b1 &= b1 - 1)
                    for (unsigned b2 = b1 & (b1 - 1); b2; b2 &= b2 - 1)
                        for (unsigned b3 = b2 & (b2 - 1); b3; b3 &= b3 - 1) {
                            const std::uint16_t score = flush_table_[pair | (b1 & -b1) | (b2 & -b2) | (b3 & -b3)];
                            best = score > best ? score : best;
                        }
            }
        return best;
    }

    const std::uint16_t* best_with_pair_;
    const std::uint16_t* flush_table_;
    const std::uint8_t* lows_;
};

}  // namespace tavrix::equity
