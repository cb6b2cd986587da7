// score_hand in a tight loop, with no Python in the way: the ceiling that the
// module's batch path is measured against. Side by side in one run:
//   - score_hand as the module calls it (loaded check + bounds checks);
//   - the bare table reads with neither check (the reference: what the
//     hardware gives for the same memory accesses).
// Needs the generated tables: build with `cmake --build build/<dir> --target tavrix_score_bench`.
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "hand_evaluator/evaluator.hpp"
#include "hand_evaluator/hand_value.hpp"

using namespace tavrix;

namespace {

std::vector<HandValue> random_hands(std::size_t count) {
    std::mt19937_64 rng(20261207);
    std::vector<HandValue> hands;
    hands.reserve(count);
    while (hands.size() < count) {
        std::uint64_t bits = 0;
        while (__builtin_popcountll(bits) < 7) bits |= std::uint64_t{1} << (rng() % 52);
        hands.push_back(from_bit_mask(bits));
    }
    return hands;
}

std::uint16_t bare_lookup(const LookupTables& t, HandValue h) {
    if (has_flush(h.key)) return t.flush_table.data[flush_group(h.key, h.mask)];
    const auto rank = static_cast<std::uint32_t>(h.key);
    return t.rank_table.data[rank + t.offsets.data[rank >> 12]];
}

template <typename Score>
double nanoseconds_per_hand(const std::vector<HandValue>& hands, Score&& score, unsigned& checksum) {
    double best = 1e30;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        unsigned sum = 0;
        for (const HandValue& h : hands) sum += score(h);
        const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count() / static_cast<double>(hands.size()));
        checksum = sum;
    }
    return best;
}

}  // namespace

int main() {
    const auto hands = random_hands(10'000'000);
    const LookupTables& tables = lookup_tables();
    unsigned checked_sum = 0, bare_sum = 0;
    const double checked = nanoseconds_per_hand(hands, [](HandValue h) { return score_hand(h.key, h.mask); }, checked_sum);
    const double bare = nanoseconds_per_hand(hands, [&](HandValue h) { return bare_lookup(tables, h); }, bare_sum);
    std::printf("%zu random 7-card hands, best of 5\n", hands.size());
    std::printf("score_hand (loaded check + bounds checks) %6.2f ns/hand  %7.1f M hands/s\n", checked, 1e3 / checked);
    std::printf("bare table reads (reference)              %6.2f ns/hand  %7.1f M hands/s\n", bare, 1e3 / bare);
    return checked_sum == bare_sum ? 0 : 1;
}
