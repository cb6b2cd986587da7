#include "equity_engine/omaha_hand.hpp"

#include <algorithm>
#include <vector>

#include "equity_engine/equity_runs.hpp"

namespace tavrix::equity {
namespace {

// Multisets of five ranks (0 to 12) are numbered by the combinatorial number
// system with repetition: sorted r0 <= ... <= r4 gives
// C(r0, 1) + C(r1 + 1, 2) + C(r2 + 2, 3) + C(r3 + 3, 4) + C(r4 + 4, 5).
constexpr int RANK_MULTISETS = 6188;  // C(17, 5)

constexpr std::array<std::array<std::uint32_t, 6>, 17> make_binomials() {
    std::array<std::array<std::uint32_t, 6>, 17> table{};
    for (int n = 0; n < 17; ++n) {
        table[n][0] = 1;
        for (int k = 1; k < 6; ++k) table[n][k] = n == 0 ? 0 : table[n - 1][k - 1] + table[n - 1][k];
    }
    return table;
}
constexpr auto BINOMIAL = make_binomials();

constexpr std::array<std::uint8_t, 169> make_pair_index() {
    std::array<std::uint8_t, 169> table{};
    for (unsigned a = 0; a < 13; ++a)
        for (unsigned b = 0; b < 13; ++b)
            table[a * 13 + b] = static_cast<std::uint8_t>(a < b ? rank_pair_index(a, b) : rank_pair_index(b, a));
    return table;
}
// The rank pair index of any two ranks, in either order.
constexpr auto PAIR_INDEX = make_pair_index();

std::uint32_t multiset_index(const std::array<unsigned, OMAHA_BOARD>& sorted) noexcept {
    std::uint32_t index = 0;
    for (int i = 0; i < OMAHA_BOARD; ++i) index += BINOMIAL[sorted[i] + i][i + 1];
    return index;
}

template <typename T>
void sort_five(std::array<T, OMAHA_BOARD>& v) noexcept {
    // An optimal sorting network for five values (nine compare-exchanges).
    auto exchange = [&v](int a, int b) {
        const T low = v[a] < v[b] ? v[a] : v[b];
        const T high = v[a] < v[b] ? v[b] : v[a];
        v[a] = low;
        v[b] = high;
    };
    exchange(0, 1), exchange(3, 4), exchange(2, 4), exchange(2, 3), exchange(0, 3);
    exchange(0, 2), exchange(1, 4), exchange(1, 3), exchange(1, 2);
}

// For each multiset of five board ranks and each pair of hole ranks, the best
// non-flush score of the pair with three of the board's ranks; 0 where no
// such five cards exist (a rank more than four times).
std::vector<std::uint16_t> build_pair_table(const TableView& tables) {
    std::vector<std::uint16_t> table(static_cast<std::size_t>(RANK_MULTISETS) * RANK_PAIRS, 0);
    bool fault = false;
    std::array<unsigned, OMAHA_BOARD> r{};
    for (r[0] = 0; r[0] < 13; ++r[0])
        for (r[1] = r[0]; r[1] < 13; ++r[1])
            for (r[2] = r[1]; r[2] < 13; ++r[2])
                for (r[3] = r[2]; r[3] < 13; ++r[3])
                    for (r[4] = r[3]; r[4] < 13; ++r[4]) {
                        std::uint16_t* row = table.data() + multiset_index(r) * RANK_PAIRS;
                        for (unsigned high = 0; high < 13; ++high)
                            for (unsigned low = 0; low <= high; ++low) {
                                std::uint16_t best = 0;
                                for (int a = 0; a < OMAHA_BOARD; ++a)
                                    for (int b = a + 1; b < OMAHA_BOARD; ++b)
                                        for (int c = b + 1; c < OMAHA_BOARD; ++c) {
                                            std::array<int, 13> count{};
                                            for (const unsigned rank : {low, high, r[a], r[b], r[c]}) ++count[rank];
                                            if (*std::max_element(count.begin(), count.end()) > 4) continue;
                                            const auto key = static_cast<std::uint32_t>(
                                                RANK_BASES[low] + RANK_BASES[high] + RANK_BASES[r[a]] +
                                                RANK_BASES[r[b]] + RANK_BASES[r[c]]);
                                            // Any key with no flush flag reads the rank table.
                                            const std::uint16_t score = tables.score(key, 0, fault);
                                            best = score > best ? score : best;
                                        }
                                row[rank_pair_index(low, high)] = best;
                            }
                    }
    if (fault) throw TableFault();
    return table;
}

std::vector<std::uint8_t> build_low_table() {
    std::vector<std::uint8_t> table(256 * 256, 0);
    for (unsigned hole = 0; hole < 256; ++hole) {
        for (unsigned board = 0; board < 256; ++board) {
            unsigned best = 256;  // no low
            for (unsigned pair = hole; pair; pair = (pair - 1) & hole) {
                if (std::popcount(pair) != 2) continue;
                for (unsigned triple = board; triple; triple = (triple - 1) & board)
                    if (std::popcount(triple) == 3 && !(triple & pair) && (triple | pair) < best) best = triple | pair;
            }
            if (best < 256) table[hole * 256 + board] = static_cast<std::uint8_t>(LOW_SCORE_BASE - best);
        }
    }
    return table;
}

}  // namespace

namespace {

// Low-rank bits and rank bits of each card, looked up rather than branched on.
constexpr std::array<std::uint8_t, CARD_COUNT> make_low_bits() {
    std::array<std::uint8_t, CARD_COUNT> table{};
    for (unsigned c = 0; c < CARD_COUNT; ++c) table[c] = low_rank_bit(c);
    return table;
}
constexpr auto LOW_BIT = make_low_bits();

template <int Count>
OmahaHole make_hole_of(const std::uint8_t* cards) noexcept {
    OmahaHole hole{};
    for (int i = 0; i < Count; ++i) {
        hole.suit_ranks[cards[i] & 3] |= static_cast<std::uint16_t>(1u << (cards[i] >> 2));
        hole.low_ranks |= LOW_BIT[cards[i]];
    }
    // A pair of ranks held twice (AAKK has AK four times) is read again: a
    // read of a row already in cache costs less than looking for repeats.
    for (int i = 0; i < Count; ++i)
        for (int j = i + 1; j < Count; ++j) hole.pair_index[hole.pairs++] = PAIR_INDEX[(cards[i] >> 2) * 13 + (cards[j] >> 2)];
    return hole;
}

}  // namespace

OmahaHole make_hole(const std::uint8_t* cards, int count) noexcept {
    switch (count) {
        case 4: return make_hole_of<4>(cards);
        case 5: return make_hole_of<5>(cards);
        default: return make_hole_of<6>(cards);
    }
}

OmahaBoard make_board(const std::uint8_t* cards) noexcept {
    OmahaBoard board{};
    unsigned suit_counts = 0;  // four 4-bit counters
    std::array<unsigned, OMAHA_BOARD> ranks;
    for (int i = 0; i < OMAHA_BOARD; ++i) {
        suit_counts += 1u << (4 * (cards[i] & 3));
        board.low_ranks |= LOW_BIT[cards[i]];
        ranks[i] = cards[i] >> 2;
    }
    // A counter of 3 or more (at most 5) sets bit 3 once 5 is added; at most
    // one suit has three of five cards.
    const unsigned flush_flags = (suit_counts + 0x5555u) & 0x8888u;
    board.flush_suit = flush_flags ? std::countr_zero(flush_flags) / 4 : -1;
    if (flush_flags)
        for (int i = 0; i < OMAHA_BOARD; ++i)
            board.flush_ranks |= static_cast<std::uint16_t>(((cards[i] & 3) == board.flush_suit) << ranks[i]);
    sort_five(ranks);
    board.pair_row = multiset_index(ranks) * RANK_PAIRS;
    return board;
}

const std::uint8_t* low_table() {
    static const std::vector<std::uint8_t> table = build_low_table();
    return table.data();
}

OmahaScorer::OmahaScorer() {
    const TableView tables = table_view();
    // The tables are loaded once per process and never change: one build will do.
    static const std::vector<std::uint16_t> pair_table = build_pair_table(tables);
    // Five flush ranks read at most bit 12 set.
    if (tables.flush_size < (1u << 13)) throw TableFault();
    best_with_pair_ = pair_table.data();
    flush_table_ = tables.flush_table;
    lows_ = low_table();
}

}  // namespace tavrix::equity
