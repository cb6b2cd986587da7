#include "hand_tables.hpp"

#include <bit>
#include <stdexcept>

#include "hand_evaluator/hand_value.hpp"
#include "hand_scores.hpp"
#include "rank_multisets.hpp"
#include "row_packing.hpp"

namespace tavrix::generator {
namespace {

// Four aces and three kings: the largest rank key of a seven-card hand.
constexpr std::uint64_t MAX_RANK_KEY = 4 * RANK_BASES[ACE] + 3 * RANK_BASES[ACE - 1];
static_assert(MAX_RANK_KEY == 0x1FFE87F, "rank bases changed: the offsets file length changes too");
constexpr std::size_t ROW_COUNT = (MAX_RANK_KEY >> ROW_BITS) + 1;

// Every class some hand of 0..7 distinct cards can have. A hand without a
// flush is just its rank multiset (any multiset can be dealt across suits
// without five of one suit); a hand with a flush is its flush suit's ranks.
std::vector<HandClass> all_reachable_classes(const std::vector<RankMultiset>& multisets) {
    std::vector<HandClass> classes;
    for (const RankMultiset& m : multisets) classes.push_back(classify_without_flush(m.counts));
    for (std::uint32_t set = 0; set < FLUSH_TABLE_SIZE; ++set) {
        const int cards = std::popcount(set);
        if (cards >= 5 && cards <= MAX_HAND_CARDS) classes.push_back(classify_suited(static_cast<std::uint16_t>(set)));
    }
    return classes;
}

std::vector<std::uint16_t> build_rank_table(const std::vector<RankMultiset>& multisets, const ScoreBook& book,
                                            const RowPacking& packing) {
    std::vector<std::uint16_t> table(packing.table_size, 0);
    std::vector<bool> used(packing.table_size, false);
    for (const RankMultiset& m : multisets) {
        const std::uint32_t index = m.key + packing.offsets[m.key >> ROW_BITS];
        // Re-checked here because a packing bug would silently mis-score hands.
        if (index >= table.size() || used[index]) throw std::logic_error("row packing produced a bad slot");
        used[index] = true;
        table[index] = book.score(classify_without_flush(m.counts));
    }
    return table;
}

std::vector<std::uint16_t> build_flush_table(const ScoreBook& book) {
    std::vector<std::uint16_t> table(FLUSH_TABLE_SIZE);
    for (std::uint32_t set = 0; set < FLUSH_TABLE_SIZE; ++set)
        table[set] = book.score(classify_suited(static_cast<std::uint16_t>(set)));
    return table;
}

}  // namespace

HandTables build_hand_tables() {
    const std::vector<RankMultiset> multisets = all_rank_multisets();
    const ScoreBook book(all_reachable_classes(multisets));

    std::vector<std::uint32_t> keys;
    keys.reserve(multisets.size());
    for (const RankMultiset& m : multisets) keys.push_back(m.key);
    RowPacking packing = pack_rows(keys, ROW_COUNT);

    HandTables tables;
    tables.rank_table = build_rank_table(multisets, book, packing);
    tables.flush_table = build_flush_table(book);
    tables.offsets = std::move(packing.offsets);
    return tables;
}

}  // namespace tavrix::generator
