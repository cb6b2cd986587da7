#include "equity_engine/range_breakdown.hpp"

#include <bit>
#include <stdexcept>
#include <string>

#include "equity_engine/equity_runs.hpp"
#include "equity_engine/table_view.hpp"

namespace tavrix::equity {
namespace {

constexpr int RANKS = 13;
constexpr unsigned ACE = 12;

// The five-rank windows of a straight as rank bit sets, the wheel (A-2-3-4-5) first.
constexpr std::uint16_t WHEEL = 0x100F;
constexpr std::uint16_t window(unsigned lowest) { return static_cast<std::uint16_t>(0x1F << lowest); }

struct BoardFacts {
    HandValue words = EMPTY_HAND;
    std::uint16_t ranks = 0;  // bit r: rank r is on the board
    int rank_count[RANKS] = {};
    int suit_count[4] = {};
    unsigned top = 0, second = 0;  // the highest and second-highest distinct board ranks
    bool has_second = false;
    std::size_t size = 0;
};

BoardFacts read_board(const std::uint8_t* board, std::size_t size) {
    if (size < 3 || size > BOARD_CARDS)
        throw std::invalid_argument("a board to classify on has 3 to 5 cards, not " + std::to_string(size));
    BoardFacts facts;
    facts.size = size;
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned card = board[i];
        if (card >= CARD_COUNT) throw std::invalid_argument("board card index " + std::to_string(card) + " is outside 0 to 51");
        if ((seen >> card) & 1) throw std::invalid_argument("the board holds a card twice");
        seen |= std::uint64_t{1} << card;
        facts.words = combine(facts.words, CARD_TABLE[card]);
        facts.ranks |= static_cast<std::uint16_t>(1u << (card >> 2));
        ++facts.rank_count[card >> 2];
        ++facts.suit_count[card & 3];
    }
    facts.top = 31 - static_cast<unsigned>(std::countl_zero(static_cast<std::uint32_t>(facts.ranks)));
    const std::uint32_t rest = facts.ranks & ~(1u << facts.top);
    facts.has_second = rest != 0;
    if (rest) facts.second = 31 - static_cast<unsigned>(std::countl_zero(rest));
    return facts;
}

// The one rank held exactly `times` times by board and hole cards together.
unsigned rank_held(const BoardFacts& board, unsigned r1, unsigned r2, int times) {
    for (unsigned r = 0; r < RANKS; ++r)
        if (board.rank_count[r] + (r == r1) + (r == r2) == times) return r;
    return RANKS;
}

MadeClass split_three_of_a_kind(const BoardFacts& board, unsigned r1, unsigned r2) {
    const unsigned r = rank_held(board, r1, r2, 3);
    const int in_hole = (r == r1) + (r == r2);
    return in_hole == 2 ? SET : in_hole == 1 ? TRIPS : BOARD_TRIPS;
}

MadeClass split_one_pair(const BoardFacts& board, unsigned r1, unsigned r2) {
    const unsigned r = rank_held(board, r1, r2, 2);
    const int in_hole = (r == r1) + (r == r2);
    if (in_hole == 2) return r > board.top ? OVERPAIR : UNDERPAIR;
    if (in_hole == 0) return BOARD_PAIR;
    if (r == board.top) return TOP_PAIR;
    return board.has_second && r == board.second ? SECOND_PAIR : WEAK_PAIR;
}

MadeClass made_class(std::uint16_t score, const BoardFacts& board, unsigned r1, unsigned r2) {
    switch (score >> 12) {
        case 8: return STRAIGHT_FLUSH;
        case 7: return FOUR_OF_A_KIND;
        case 6: return FULL_HOUSE;
        case 5: return FLUSH;
        case 4: return STRAIGHT;
        case 3: return split_three_of_a_kind(board, r1, r2);
        case 2: return TWO_PAIR;
        case 1: return split_one_pair(board, r1, r2);
        default: return HIGH_CARD;
    }
}

// Ranks r such that the held ranks plus r hold a straight through r that the
// board's ranks plus r alone do not.
int straight_outs(std::uint16_t held, std::uint16_t board_ranks) {
    int outs = 0;
    for (unsigned r = 0; r < RANKS; ++r) {
        const std::uint16_t out = static_cast<std::uint16_t>(1u << r);
        const std::uint16_t with = held | out, board_with = board_ranks | out;
        bool counts = false;
        for (unsigned lowest = 0; lowest <= RANKS - 5 + 1 && !counts; ++lowest) {
            const std::uint16_t w = lowest == 0 ? WHEEL : window(lowest - 1);
            counts = (w & out) && (with & w) == w && (board_with & w) != w;
        }
        outs += counts;
    }
    return outs;
}

std::uint8_t draw_bits(const BoardFacts& board, unsigned c1, unsigned c2, MadeClass made) {
    std::uint8_t bits = 0;
    const unsigned s1 = c1 & 3, s2 = c2 & 3;
    bool flush_draw = false, backdoor = false;
    for (unsigned s = 0; s < 4; ++s) {
        const int in_hole = (s == s1) + (s == s2);
        if (in_hole == 0) continue;
        const int total = board.suit_count[s] + in_hole;
        flush_draw |= total == 4;
        backdoor |= total == 3 && board.size == 3;
    }
    if (flush_draw) bits |= FLUSH_DRAW;
    else if (backdoor) bits |= BACKDOOR_FLUSH_DRAW;

    const unsigned r1 = c1 >> 2, r2 = c2 >> 2;
    const std::uint16_t held = board.ranks | static_cast<std::uint16_t>((1u << r1) | (1u << r2));
    const int outs = straight_outs(held, board.ranks);
    if (outs >= 2) bits |= OPEN_ENDED;
    else if (outs == 1) bits |= GUTSHOT;
    if (made == HIGH_CARD && r1 > board.top && r2 > board.top) bits |= OVERCARDS;
    return bits;
}

}  // namespace

void classify_combos(const std::uint8_t* board, std::size_t board_size, const std::uint8_t* combos,
                     std::size_t count, std::uint8_t* made, std::uint8_t* draws) {
    const BoardFacts facts = read_board(board, board_size);
    std::uint64_t board_mask = 0;
    for (std::size_t i = 0; i < board_size; ++i) board_mask |= std::uint64_t{1} << board[i];
    const TableView tables = table_view();
    bool fault = false;
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned c1 = combos[2 * i], c2 = combos[2 * i + 1];
        if (c1 >= CARD_COUNT || c2 >= CARD_COUNT || c1 == c2 || ((board_mask >> c1) & 1) || ((board_mask >> c2) & 1))
            throw std::invalid_argument("row " + std::to_string(i) +
                                        ": a combo is two different cards 0 to 51, neither on the board");
        const HandValue hand = combine(facts.words, hole_words({static_cast<std::uint8_t>(c1), static_cast<std::uint8_t>(c2)}));
        const MadeClass cls = made_class(tables.score(hand, fault), facts, c1 >> 2, c2 >> 2);
        made[i] = cls;
        // Draws are read only on an incomplete board, for hands below a straight.
        draws[i] = board_size < BOARD_CARDS && cls > STRAIGHT ? draw_bits(facts, c1, c2, cls) : 0;
    }
    if (fault) throw TableFault();
}

}  // namespace tavrix::equity
