#include "rank_multisets.hpp"

#include "hand_evaluator/hand_value.hpp"

namespace tavrix::generator {
namespace {

void extend(RankCounts& counts, int rank, int cards, std::vector<RankMultiset>& out) {
    if (rank == RANK_COUNT) {
        out.push_back({counts, rank_key_of(counts)});
        return;
    }
    for (int n = 0; n <= CARDS_PER_RANK && cards + n <= MAX_HAND_CARDS; ++n) {
        counts[rank] = static_cast<std::uint8_t>(n);
        extend(counts, rank + 1, cards + n, out);
    }
    counts[rank] = 0;
}

}  // namespace

std::uint32_t rank_key_of(const RankCounts& counts) {
    std::uint64_t key = 0;
    for (int r = 0; r < RANK_COUNT; ++r) key += counts[r] * RANK_BASES[r];
    // The module keeps only the low 32 bits of the rank key.
    return static_cast<std::uint32_t>(key);
}

std::vector<RankMultiset> all_rank_multisets() {
    std::vector<RankMultiset> out;
    RankCounts counts{};
    extend(counts, 0, 0, out);
    return out;
}

}  // namespace tavrix::generator
