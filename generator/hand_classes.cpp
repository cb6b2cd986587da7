#include "hand_classes.hpp"

#include <bit>
#include <initializer_list>

namespace tavrix::generator {
namespace {

// Collects deciding ranks into the tiebreak word, most significant first.
class TiebreakBuilder {
public:
    void add(int rank) {
        word_ |= static_cast<std::uint32_t>(rank + 1) << (4 * (4 - used_));
        ++used_;
    }
    int used() const { return used_; }
    std::uint32_t word() const { return word_; }

private:
    std::uint32_t word_ = 0;
    int used_ = 0;
};

constexpr std::uint16_t ALL_RANKS = (1u << RANK_COUNT) - 1;

std::uint16_t present_ranks(const RankCounts& counts) {
    std::uint16_t set = 0;
    for (int r = 0; r < RANK_COUNT; ++r)
        if (counts[r] > 0) set |= static_cast<std::uint16_t>(1u << r);
    return set;
}

// Top card of the best straight in `rank_set`, or -1. The ace also plays
// low, so A-2-3-4-5 is a straight whose top card is the five.
int straight_top(std::uint16_t rank_set) {
    for (int top = ACE; top >= 4; --top) {
        const unsigned run = 0x1Fu << (top - 4);
        if ((rank_set & run) == run) return top;
    }
    constexpr unsigned wheel = (1u << ACE) | 0xFu;
    return (rank_set & wheel) == wheel ? FIVE : -1;
}

// Adds the highest ranks of `rank_set` not in `excluded` until the class
// lists `limit` ranks.
void add_kickers(TiebreakBuilder& tiebreak, std::uint16_t rank_set, std::uint16_t excluded, int limit) {
    const std::uint16_t candidates = rank_set & static_cast<std::uint16_t>(~excluded) & ALL_RANKS;
    for (int r = ACE; r >= 0 && tiebreak.used() < limit; --r)
        if ((candidates >> r) & 1u) tiebreak.add(r);
}

// Highest rank held at least `min_count` times, skipping `skip`; -1 if none.
int highest_with(const RankCounts& counts, int min_count, int skip = -1) {
    for (int r = ACE; r >= 0; --r)
        if (r != skip && counts[r] >= min_count) return r;
    return -1;
}

// Class with the `defining` ranks first, then kickers from `counts` up to
// `rank_limit` ranks in all.
HandClass make(Category category, std::initializer_list<int> defining, const RankCounts& counts, int rank_limit) {
    TiebreakBuilder tiebreak;
    std::uint16_t used = 0;
    for (int r : defining) {
        tiebreak.add(r);
        used |= static_cast<std::uint16_t>(1u << r);
    }
    add_kickers(tiebreak, present_ranks(counts), used, rank_limit);
    return {category, tiebreak.word()};
}

}  // namespace

HandClass classify_without_flush(const RankCounts& counts) {
    // The last argument of make() is how many ranks a five-card class of
    // that shape lists (quads + kicker: 2, pair + three kickers: 4, ...);
    // shorter hands simply run out of kickers.
    if (const int quads = highest_with(counts, 4); quads >= 0)
        return make(Category::four_of_a_kind, {quads}, counts, 2);

    const int trips = highest_with(counts, 3);
    if (trips >= 0) {
        // With seven cards the second set of trips plays as the pair.
        const int pair = highest_with(counts, 2, trips);
        if (pair >= 0) return make(Category::full_house, {trips, pair}, {}, 0);
    }

    if (const int top = straight_top(present_ranks(counts)); top >= 0)
        return make(Category::straight, {top}, {}, 0);

    if (trips >= 0) return make(Category::three_of_a_kind, {trips}, counts, 3);

    const int high_pair = highest_with(counts, 2);
    if (high_pair >= 0) {
        const int low_pair = highest_with(counts, 2, high_pair);
        // A third pair is just another candidate for the single kicker.
        if (low_pair >= 0) return make(Category::two_pair, {high_pair, low_pair}, counts, 3);
        return make(Category::one_pair, {high_pair}, counts, 4);
    }
    return make(Category::high_card, {}, counts, 5);
}

HandClass classify_suited(std::uint16_t rank_set) {
    rank_set &= ALL_RANKS;
    RankCounts counts{};
    for (int r = 0; r < RANK_COUNT; ++r) counts[r] = static_cast<std::uint8_t>((rank_set >> r) & 1u);
    if (std::popcount(rank_set) < 5) return classify_without_flush(counts);
    if (const int top = straight_top(rank_set); top >= 0) return make(Category::straight_flush, {top}, {}, 0);
    return make(Category::flush, {}, counts, 5);
}

}  // namespace tavrix::generator
