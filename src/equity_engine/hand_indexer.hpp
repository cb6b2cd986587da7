// Canonical states of a hand and their indices. A state of round r holds the
// two hole cards and the board dealt up to round r, each round a set of cards
// and the rounds kept apart. States that a permutation of the four suits maps
// onto each other are one canonical state; the indexer numbers the canonical
// states of a round 0 .. size-1 and turns an index back into one of its states.
//
// Numbering. A suit's configuration is the tuple of rank sets it holds in each
// round; its shape is the tuple of their sizes. A state is known up to suit
// permutation by the multiset of its four configurations, so:
//  - each configuration gets an index within its shape: per round, the
//    combinatorial (colex) rank of the round's rank set among the ranks that
//    suit has not used in earlier rounds, combined in mixed radix with the
//    hole cards most significant;
//  - the four suits are sorted by (shape code, configuration index),
//    descending; the shape code is the mixed-radix number of the shape with
//    the hole-card count most significant;
//  - the sorted shape codes form the state's pattern. Patterns are numbered in
//    increasing lexicographic order of their sorted codes, and each owns a
//    contiguous block of indices;
//  - inside a pattern, suits of equal shape form a group whose configurations
//    are a multiset, ranked in colex order among the multisets of that size;
//    the group ranks combine in mixed radix, the first group most significant.
// unindex gives the state with suits clubs, diamonds, hearts, spades in that
// sorted order, each round's cards in increasing card index.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace tavrix::equity {

enum class Round : std::uint8_t { preflop = 0, flop = 1, turn = 2, river = 3 };

inline constexpr std::size_t MAX_ROUNDS = 4;
inline constexpr std::size_t MAX_STATE_CARDS = 7;
// Cards dealt in each round: hole cards, flop, turn, river.
inline constexpr std::array<std::size_t, MAX_ROUNDS> ROUND_CARDS = {2, 3, 1, 1};

// The round named "preflop", "flop", "turn" or "river", if it is one.
std::optional<Round> round_named(std::string_view name) noexcept;

class HandIndexer {
public:
    // The indexer of a round, built on first use (its tables are a few kilobytes).
    static const HandIndexer& of(Round round);

    Round round() const noexcept { return round_; }
    // Cards in a state of this round: 2, 5, 6 or 7.
    std::size_t cards() const noexcept { return cards_; }
    // Canonical states: 169; 1,286,792; 55,190,538; 2,428,287,420.
    std::uint64_t size() const noexcept { return size_; }

    // The index of a state: cards() distinct card indices below 52, hole cards
    // first, then the board in the order dealt. Unchecked: index_rows checks.
    std::uint64_t index(const std::uint8_t* cards) const noexcept;
    // Writes cards() cards of the representative state of `index` (< size()).
    void unindex(std::uint64_t index, std::uint8_t* cards) const noexcept;

    // The same for `count` states or indices in a row, with no checks.
    void index_many(const std::uint8_t* cards, std::size_t count, std::uint64_t* indices) const noexcept;
    void unindex_many(const std::uint64_t* indices, std::size_t count, std::uint8_t* cards) const noexcept;

    // index_many for rows not yet checked: stops at the first row with a card
    // above 51 or a repeated card and returns its position (count if none).
    std::size_t index_many_checked(const std::uint8_t* cards, std::size_t count, std::uint64_t* indices) const noexcept;

    explicit HandIndexer(Round round);

private:
    static constexpr std::size_t SUITS = 4;
    static constexpr std::size_t MAX_CODES = 48;  // 3 * 4 * 2 * 2 shapes of one suit
    static constexpr std::uint32_t CONFIG_BITS = 20;
    static constexpr std::size_t BUCKETS = 4096;

    struct Shape {
        std::array<std::uint8_t, MAX_ROUNDS> counts{};      // cards per round
        std::array<std::uint32_t, MAX_ROUNDS> radix{};      // rank sets per round
        std::array<std::uint64_t, MAX_ROUNDS> reciprocal{}; // divides by radix exactly below 2^20
        std::uint32_t configurations = 0;
    };
    struct Pattern {
        std::uint64_t offset = 0;
        std::array<std::uint8_t, SUITS> codes{};       // sorted shape codes, descending
        std::array<std::uint8_t, SUITS> position{};    // 1-based place of each suit in its group, ascending
        std::array<std::uint8_t, SUITS> group_size{};  // suits in the group of each suit
        std::array<std::uint32_t, SUITS> place{};      // place value of each suit's group
    };

    template <std::size_t Rounds>
    std::uint64_t index_of(const std::uint8_t* cards) const noexcept;
    template <std::size_t Rounds>
    void unindex_of(std::uint64_t index, std::uint8_t* cards) const noexcept;
    std::uint64_t multiset_term(std::uint32_t value, unsigned position) const noexcept;
    void build_shapes();
    void build_patterns();

    Round round_;
    std::size_t rounds_;
    std::size_t cards_;
    std::uint64_t size_ = 0;
    std::array<std::uint32_t, MAX_ROUNDS> code_place_{};
    std::array<Shape, MAX_CODES> shapes_{};
    std::vector<Pattern> patterns_;
    // Trie over the first three sorted shape codes (the fourth follows from
    // them): node * MAX_CODES + code gives the next node, then the pattern.
    std::vector<std::int32_t> pattern_trie_;
    // For unindex: the last pattern starting at or below each bucket's first index.
    std::array<std::uint32_t, BUCKETS> bucket_pattern_{};
    unsigned bucket_shift_ = 0;
    // multiset_terms_[p * term_columns_ + x] = C(x + p - 1, p), for groups of 2
    // to 4 suits, whose shapes have few configurations.
    std::vector<std::uint64_t> multiset_terms_;
    std::uint32_t term_columns_ = 0;
};

}  // namespace tavrix::equity
