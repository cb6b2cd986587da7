#include "equity_engine/hand_indexer.hpp"

#include <algorithm>
#include <bit>
#include <stdexcept>
#include <utility>

namespace tavrix::equity {

namespace {

constexpr unsigned RANKS = 13;
constexpr unsigned RANK_SETS = 1u << RANKS;
// Rank sets are split into 7 low and 6 high ranks for the compress and
// deposit tables, which then fit in 20 kilobytes.
constexpr unsigned LOW_RANKS = 7;
constexpr unsigned LOW_MASK = (1u << LOW_RANKS) - 1;
constexpr unsigned HIGH_SETS = 1u << (RANKS - LOW_RANKS);
// Most cards one suit can take in one round (the flop).
constexpr unsigned MAX_ROUND_SET = 3;

using Binomials = std::array<std::array<std::uint32_t, RANKS + 1>, RANKS + 1>;
constexpr Binomials make_binomials() {
    Binomials c{};
    for (unsigned n = 0; n <= RANKS; ++n) {
        c[n][0] = 1;
        for (unsigned k = 1; k <= RANKS; ++k) c[n][k] = n == 0 ? 0 : c[n - 1][k - 1] + c[n - 1][k];
    }
    return c;
}
// BINOMIAL[n][k] = C(n, k), zero when k > n.
constexpr Binomials BINOMIAL = make_binomials();

constexpr std::array<std::uint8_t, RANK_SETS> make_popcounts() {
    std::array<std::uint8_t, RANK_SETS> counts{};
    for (unsigned set = 1; set < RANK_SETS; ++set) counts[set] = static_cast<std::uint8_t>(counts[set & (set - 1)] + 1);
    return counts;
}
// Bit counts by table: the default x86-64 target has no popcnt instruction.
constexpr auto RANK_COUNT = make_popcounts();

// The colex rank of a set of positions among the sets of its size: the sum,
// over its elements (the i-th smallest at position p), of C(p, i). It does not
// depend on how many positions there are to choose from.
constexpr std::array<std::uint16_t, RANK_SETS> make_colex_ranks() {
    std::array<std::uint16_t, RANK_SETS> ranks{};
    for (unsigned set = 0; set < RANK_SETS; ++set) {
        unsigned rank = 0, i = 1;
        for (unsigned p = 0; p < RANKS; ++p)
            if (set >> p & 1) rank += BINOMIAL[p][i++];
        ranks[set] = static_cast<std::uint16_t>(rank);
    }
    return ranks;
}
constexpr auto COLEX_RANK = make_colex_ranks();

// COLEX_SET[k][r]: the set of k positions of colex rank r, for k up to 3.
using ColexSets = std::array<std::array<std::uint16_t, 288>, MAX_ROUND_SET + 1>;
constexpr ColexSets make_colex_sets() {
    ColexSets sets{};
    for (unsigned set = 0; set < RANK_SETS; ++set) {
        const unsigned k = RANK_COUNT[set];
        if (k <= MAX_ROUND_SET) sets[k][COLEX_RANK[set]] = static_cast<std::uint16_t>(set);
    }
    return sets;
}
constexpr ColexSets COLEX_SET = make_colex_sets();

// compress(set, used): the bits of `set` outside `used`, packed down over the
// bits of `used`. deposit is its inverse: the low bits of `packed` spread over
// the positions outside `used`, in order.
template <unsigned Bits>
constexpr std::array<std::array<std::uint8_t, 1u << Bits>, 1u << Bits> make_compress() {
    std::array<std::array<std::uint8_t, 1u << Bits>, 1u << Bits> table{};
    for (unsigned used = 0; used < (1u << Bits); ++used)
        for (unsigned set = 0; set < (1u << Bits); ++set) {
            unsigned packed = 0, out = 0;
            for (unsigned b = 0; b < Bits; ++b) {
                if (used >> b & 1) continue;
                packed |= (set >> b & 1) << out++;
            }
            table[used][set] = static_cast<std::uint8_t>(packed);
        }
    return table;
}
template <unsigned Bits>
constexpr std::array<std::array<std::uint8_t, 1u << Bits>, 1u << Bits> make_deposit() {
    std::array<std::array<std::uint8_t, 1u << Bits>, 1u << Bits> table{};
    for (unsigned used = 0; used < (1u << Bits); ++used)
        for (unsigned packed = 0; packed < (1u << Bits); ++packed) {
            unsigned set = 0, in = 0;
            for (unsigned b = 0; b < Bits; ++b) {
                if (used >> b & 1) continue;
                set |= (packed >> in++ & 1) << b;
            }
            table[used][packed] = static_cast<std::uint8_t>(set);
        }
    return table;
}
constexpr auto COMPRESS_LOW = make_compress<LOW_RANKS>();
constexpr auto COMPRESS_HIGH = make_compress<RANKS - LOW_RANKS>();
constexpr auto DEPOSIT_LOW = make_deposit<LOW_RANKS>();
constexpr auto DEPOSIT_HIGH = make_deposit<RANKS - LOW_RANKS>();

inline std::uint32_t compress(std::uint32_t set, std::uint32_t used) noexcept {
    const unsigned free_low = LOW_RANKS - RANK_COUNT[used & LOW_MASK];
    return COMPRESS_LOW[used & LOW_MASK][set & LOW_MASK] |
           static_cast<std::uint32_t>(COMPRESS_HIGH[used >> LOW_RANKS][set >> LOW_RANKS]) << free_low;
}

inline std::uint32_t deposit(std::uint32_t packed, std::uint32_t used) noexcept {
    const unsigned free_low = LOW_RANKS - RANK_COUNT[used & LOW_MASK];
    return DEPOSIT_LOW[used & LOW_MASK][packed & ((1u << free_low) - 1)] |
           static_cast<std::uint32_t>(DEPOSIT_HIGH[used >> LOW_RANKS][(packed >> free_low) & (HIGH_SETS - 1)])
               << LOW_RANKS;
}

// A rank set of one suit as cards of suit 0: rank r becomes card 4r.
constexpr std::array<std::uint64_t, 1u << LOW_RANKS> make_spread(unsigned first_rank) {
    std::array<std::uint64_t, 1u << LOW_RANKS> table{};
    for (unsigned set = 0; set < (1u << LOW_RANKS); ++set)
        for (unsigned b = 0; b < LOW_RANKS; ++b)
            if ((set >> b & 1) && first_rank + b < RANKS) table[set] |= std::uint64_t{1} << (4 * (first_rank + b));
    return table;
}
constexpr auto SPREAD_LOW = make_spread(0);
constexpr auto SPREAD_HIGH = make_spread(LOW_RANKS);

// C(n + m - 1, m): the multisets of m items drawn from n.
constexpr std::uint64_t multisets(std::uint64_t n, std::uint64_t m) noexcept {
    std::uint64_t count = 1;
    for (std::uint64_t f = 0; f < m; ++f) count = count * (n + f) / (f + 1);  // exact at every step
    return count;
}

// Configuration numbers stay below 2^20 (the largest shape has 720,720), so a
// 64-bit product with this reciprocal divides them exactly.
constexpr unsigned RECIPROCAL_SHIFT = 40;
constexpr std::uint64_t reciprocal(std::uint32_t divisor) noexcept {
    return (std::uint64_t{1} << RECIPROCAL_SHIFT) / divisor + 1;
}

// Place values of the rounds' card counts in a shape code, hole cards most
// significant, by number of rounds.
constexpr std::array<std::array<std::uint32_t, MAX_ROUNDS>, MAX_ROUNDS> CODE_PLACES = {{
    {1, 0, 0, 0}, {4, 1, 0, 0}, {8, 2, 1, 0}, {16, 4, 2, 1}}};

// Cards in a state with this many rounds, and the round of each card.
constexpr std::array<std::size_t, MAX_ROUNDS> STATE_CARDS = {2, 5, 6, 7};
constexpr std::array<std::uint8_t, MAX_STATE_CARDS> CARD_ROUND = {0, 0, 1, 1, 1, 2, 3};

}  // namespace

std::optional<Round> round_named(std::string_view name) noexcept {
    if (name == "preflop") return Round::preflop;
    if (name == "flop") return Round::flop;
    if (name == "turn") return Round::turn;
    if (name == "river") return Round::river;
    return std::nullopt;
}

const HandIndexer& HandIndexer::of(Round round) {
    static const HandIndexer indexers[] = {HandIndexer(Round::preflop), HandIndexer(Round::flop),
                                           HandIndexer(Round::turn), HandIndexer(Round::river)};
    return indexers[static_cast<std::size_t>(round)];
}

HandIndexer::HandIndexer(Round round) : round_(round), rounds_(static_cast<std::size_t>(round) + 1), cards_(0) {
    for (std::size_t j = 0; j < rounds_; ++j) cards_ += ROUND_CARDS[j];
    build_shapes();
    build_patterns();
}

// Every shape one suit can have: its card count in each round, coded in mixed
// radix with the hole cards most significant.
void HandIndexer::build_shapes() {
    std::uint32_t place = 1;
    for (std::size_t j = rounds_; j-- > 0;) {
        code_place_[j] = place;
        place *= static_cast<std::uint32_t>(ROUND_CARDS[j] + 1);
        if (code_place_[j] != CODE_PLACES[rounds_ - 1][j]) throw std::logic_error("shape code places disagree");
    }
    for (std::uint32_t code = 0; code < place; ++code) {
        Shape& shape = shapes_[code];
        unsigned used = 0;
        shape.configurations = 1;
        for (std::size_t j = 0; j < rounds_; ++j) {
            shape.counts[j] = static_cast<std::uint8_t>(code / code_place_[j] % (ROUND_CARDS[j] + 1));
            shape.radix[j] = BINOMIAL[RANKS - used][shape.counts[j]];
            shape.reciprocal[j] = reciprocal(shape.radix[j]);
            shape.configurations *= shape.radix[j];
            used += shape.counts[j];
        }
    }
}

void HandIndexer::build_patterns() {
    const std::uint32_t codes = code_place_[0] * static_cast<std::uint32_t>(ROUND_CARDS[0] + 1);
    // Patterns: descending 4-tuples of shape codes whose counts add up to the
    // cards of each round, in increasing lexicographic order.
    std::vector<std::array<std::uint8_t, SUITS>> tuples;
    for (std::uint32_t a = 0; a < codes; ++a)
        for (std::uint32_t b = 0; b <= a; ++b)
            for (std::uint32_t c = 0; c <= b; ++c)
                for (std::uint32_t d = 0; d <= c; ++d) {
                    bool fits = true;
                    for (std::size_t j = 0; j < rounds_; ++j) {
                        const std::size_t total = std::size_t{shapes_[a].counts[j]} + shapes_[b].counts[j] +
                                                  shapes_[c].counts[j] + shapes_[d].counts[j];
                        fits = fits && total == ROUND_CARDS[j];
                    }
                    if (fits)
                        tuples.push_back({static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
                                          static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d)});
                }

    // Groups of 2 or more suits of one shape need C(x + p - 1, p) for every
    // configuration number x of that shape.
    std::uint32_t largest_shared = 0;
    for (const auto& t : tuples)
        for (std::size_t p = 0; p + 1 < SUITS; ++p)
            if (t[p] == t[p + 1]) largest_shared = std::max(largest_shared, shapes_[t[p]].configurations);
    term_columns_ = largest_shared + 1;
    multiset_terms_.assign((SUITS + 1) * term_columns_, 0);
    for (std::uint32_t p = 1; p <= SUITS; ++p)
        for (std::uint32_t x = 0; x < term_columns_; ++x) multiset_terms_[p * term_columns_ + x] = multisets(x, p);

    pattern_trie_.assign(MAX_CODES, -1);
    for (const auto& t : tuples) {
        Pattern pattern;
        pattern.codes = t;
        pattern.offset = size_;
        // Groups from the last, so each group's place value is the product of
        // the counts of the groups after it.
        std::uint64_t place = 1;
        for (std::size_t end = SUITS; end > 0;) {
            std::size_t start = end - 1;
            while (start > 0 && t[start - 1] == t[end - 1]) --start;
            const std::size_t members = end - start;
            for (std::size_t p = start; p < end; ++p) {
                pattern.position[p] = static_cast<std::uint8_t>(members - (p - start));
                pattern.group_size[p] = static_cast<std::uint8_t>(members);
                pattern.place[p] = static_cast<std::uint32_t>(place);
            }
            place *= multisets(shapes_[t[start]].configurations, members);
            end = start;
        }
        // Indices within a pattern fit 32 bits (the largest river pattern has
        // about 200 million states), which keeps unindex's divisions short.
        if (place >> 32) throw std::logic_error("a pattern of the hand indexer outgrew 32 bits");
        size_ += place;

        std::size_t node = 0;
        for (std::size_t p = 0; p + 1 < SUITS; ++p) {
            const std::size_t slot = node * MAX_CODES + t[p];
            if (p + 2 == SUITS) {
                pattern_trie_[slot] = static_cast<std::int32_t>(patterns_.size());
            } else {
                if (pattern_trie_[slot] < 0) {
                    pattern_trie_[slot] = static_cast<std::int32_t>(pattern_trie_.size() / MAX_CODES);
                    pattern_trie_.resize(pattern_trie_.size() + MAX_CODES, -1);
                }
                node = static_cast<std::size_t>(pattern_trie_[slot]);
            }
        }
        patterns_.push_back(pattern);
    }

    while ((size_ - 1) >> bucket_shift_ >= BUCKETS) ++bucket_shift_;
    std::size_t pattern = 0;
    for (std::size_t b = 0; b < BUCKETS; ++b) {
        const std::uint64_t first = std::uint64_t{b} << bucket_shift_;
        while (pattern + 1 < patterns_.size() && patterns_[pattern + 1].offset <= first) ++pattern;
        bucket_pattern_[b] = static_cast<std::uint32_t>(pattern);
    }
}

std::uint64_t HandIndexer::multiset_term(std::uint32_t value, unsigned position) const noexcept {
    // Position 1 is the value itself, which may exceed the table; a select
    // rather than a branch, since positions vary from state to state.
    const std::uint64_t term = multiset_terms_[position * term_columns_ + std::min(value, term_columns_ - 1)];
    return position == 1 ? value : term;
}

template <std::size_t Rounds>
std::uint64_t HandIndexer::index_of(const std::uint8_t* cards) const noexcept {
    std::uint32_t masks[Rounds][SUITS] = {};
    for (std::size_t k = 0; k < STATE_CARDS[Rounds - 1]; ++k) masks[CARD_ROUND[k]][cards[k] & 3] |= 1u << (cards[k] >> 2);

    // Each suit's shape code and configuration number, packed into one key.
    std::uint32_t keys[SUITS];
#pragma GCC unroll 4
    for (std::size_t s = 0; s < SUITS; ++s) {
        std::uint32_t used = masks[0][s];
        std::uint32_t count = RANK_COUNT[used];
        std::uint32_t code = count * CODE_PLACES[Rounds - 1][0];
        std::uint32_t configuration = COLEX_RANK[used];
#pragma GCC unroll 3
        for (std::size_t j = 1; j < Rounds; ++j) {
            const std::uint32_t set = masks[j][s];
            if (ROUND_CARDS[j] == 1) {
                // One card or none, at random: arithmetic rather than branches.
                const std::uint32_t size = set != 0;
                const std::uint32_t position = static_cast<std::uint32_t>(std::countr_zero(set | RANK_SETS)) -
                                               RANK_COUNT[used & (set - 1) & (RANK_SETS - 1)];
                configuration = configuration * (1 + size * (RANKS - 1 - count)) + (position & (0u - size));
                code += size * CODE_PLACES[Rounds - 1][j];
                count += size;
            } else {
                const std::uint32_t size = RANK_COUNT[set];
                configuration = configuration * BINOMIAL[RANKS - count][size] + COLEX_RANK[compress(set, used)];
                code += size * CODE_PLACES[Rounds - 1][j];
                count += size;
            }
            used |= set;
        }
        keys[s] = code << CONFIG_BITS | configuration;
    }
    // Sorting network for four keys, descending, without branches: the
    // comparisons are as good as random and mispredict half the time.
    const auto order = [&keys](std::size_t a, std::size_t b) {
        const std::uint32_t swap = (keys[a] ^ keys[b]) & -static_cast<std::uint32_t>(keys[a] < keys[b]);
        keys[a] ^= swap;
        keys[b] ^= swap;
    };
    order(0, 1);
    order(2, 3);
    order(0, 2);
    order(1, 3);
    order(1, 2);

    std::size_t node = 0;
    for (std::size_t p = 0; p + 1 < SUITS; ++p)
        node = static_cast<std::size_t>(pattern_trie_[node * MAX_CODES + (keys[p] >> CONFIG_BITS)]);
    const Pattern& pattern = patterns_[node];
    constexpr std::uint32_t config_mask = (1u << CONFIG_BITS) - 1;
    std::uint64_t index = pattern.offset;
    for (std::size_t p = 0; p < SUITS; ++p)
        index += multiset_term(keys[p] & config_mask, pattern.position[p]) * pattern.place[p];
    return index;
}

template <std::size_t Rounds>
void HandIndexer::unindex_of(std::uint64_t index, std::uint8_t* cards) const noexcept {
    std::size_t found = bucket_pattern_[index >> bucket_shift_];
    while (found + 1 < patterns_.size() && patterns_[found + 1].offset <= index) ++found;
    const Pattern& pattern = patterns_[found];
    auto local = static_cast<std::uint32_t>(index - pattern.offset);

    // Each group's rank, then its multiset of configurations by colex
    // unranking, the largest first.
    std::uint32_t configuration[SUITS];
    for (std::size_t start = 0; start < SUITS;) {
        const std::size_t members = pattern.group_size[start];
        std::uint64_t rank = local / pattern.place[start];
        local %= pattern.place[start];
        for (std::size_t p = start; p < start + members; ++p) {
            const unsigned position = pattern.position[p];
            std::uint32_t x = static_cast<std::uint32_t>(rank);
            if (position > 1) {
                const std::uint64_t* terms = &multiset_terms_[position * term_columns_];
                x = static_cast<std::uint32_t>(std::upper_bound(terms, terms + term_columns_, rank) - terms - 1);
            }
            rank -= multiset_term(x, position);
            configuration[p] = x;
        }
        start += members;
    }

    // Suit p takes the configuration at sorted position p; each round's cards
    // gather in a mask, so they come out in increasing order.
    std::uint64_t round_masks[Rounds] = {};
    for (std::size_t p = 0; p < SUITS; ++p) {
        const Shape& shape = shapes_[pattern.codes[p]];
        std::uint32_t ranks[Rounds];
        std::uint64_t rest = configuration[p];
        for (std::size_t j = Rounds; j-- > 0;) {
            const std::uint64_t quotient = rest * shape.reciprocal[j] >> RECIPROCAL_SHIFT;
            ranks[j] = static_cast<std::uint32_t>(rest - quotient * shape.radix[j]);
            rest = quotient;
        }
        std::uint32_t used = 0;
        for (std::size_t j = 0; j < Rounds; ++j) {
            const std::uint32_t set = deposit(COLEX_SET[shape.counts[j]][ranks[j]], used);
            used |= set;
            round_masks[j] |= (SPREAD_LOW[set & LOW_MASK] | SPREAD_HIGH[set >> LOW_RANKS]) << p;
        }
    }
    for (std::size_t k = 0, j = 0; j < Rounds; ++j)
        for (std::size_t t = 0; t < ROUND_CARDS[j]; ++t, ++k) {
            cards[k] = static_cast<std::uint8_t>(std::countr_zero(round_masks[j]));
            round_masks[j] &= round_masks[j] - 1;
        }
}

std::uint64_t HandIndexer::index(const std::uint8_t* cards) const noexcept {
    switch (round_) {
        case Round::preflop: return index_of<1>(cards);
        case Round::flop: return index_of<2>(cards);
        case Round::turn: return index_of<3>(cards);
        case Round::river: break;
    }
    return index_of<4>(cards);
}

void HandIndexer::unindex(std::uint64_t index, std::uint8_t* cards) const noexcept {
    switch (round_) {
        case Round::preflop: return unindex_of<1>(index, cards);
        case Round::flop: return unindex_of<2>(index, cards);
        case Round::turn: return unindex_of<3>(index, cards);
        case Round::river: break;
    }
    unindex_of<4>(index, cards);
}

void HandIndexer::index_many(const std::uint8_t* cards, std::size_t count, std::uint64_t* indices) const noexcept {
    const auto run = [&]<std::size_t Rounds>() {
        constexpr std::size_t width = STATE_CARDS[Rounds - 1];
        for (std::size_t i = 0; i < count; ++i) indices[i] = index_of<Rounds>(cards + i * width);
    };
    switch (round_) {
        case Round::preflop: return run.template operator()<1>();
        case Round::flop: return run.template operator()<2>();
        case Round::turn: return run.template operator()<3>();
        case Round::river: break;
    }
    run.template operator()<4>();
}

std::size_t HandIndexer::index_many_checked(const std::uint8_t* cards, std::size_t count,
                                            std::uint64_t* indices) const noexcept {
    const auto run = [&]<std::size_t Rounds>() -> std::size_t {
        constexpr std::size_t width = STATE_CARDS[Rounds - 1];
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* row = cards + i * width;
            // Sound when every card is below 52 and sets a bit of its own;
            // checked beside the indexing, in the same pass over the row.
            std::uint64_t seen = 0, repeated = 0;
            unsigned outside = 0;
            for (std::size_t k = 0; k < width; ++k) {
                const std::uint64_t bit = std::uint64_t{1} << (row[k] & 63);
                outside |= row[k] >= 52;
                repeated |= seen & bit;
                seen |= bit;
            }
            if ((repeated | outside) != 0) [[unlikely]]
                return i;
            indices[i] = index_of<Rounds>(row);
        }
        return count;
    };
    switch (round_) {
        case Round::preflop: return run.template operator()<1>();
        case Round::flop: return run.template operator()<2>();
        case Round::turn: return run.template operator()<3>();
        case Round::river: break;
    }
    return run.template operator()<4>();
}

void HandIndexer::unindex_many(const std::uint64_t* indices, std::size_t count, std::uint8_t* cards) const noexcept {
    const auto run = [&]<std::size_t Rounds>() {
        constexpr std::size_t width = STATE_CARDS[Rounds - 1];
        for (std::size_t i = 0; i < count; ++i) unindex_of<Rounds>(indices[i], cards + i * width);
    };
    switch (round_) {
        case Round::preflop: return run.template operator()<1>();
        case Round::flop: return run.template operator()<2>();
        case Round::turn: return run.template operator()<3>();
        case Round::river: break;
    }
    run.template operator()<4>();
}

}  // namespace tavrix::equity
