// Hand values: two 64-bit words that make adding a card one addition and one OR.
//
// key:  bits 0-31 rank key (sum of RANK_BASES), bits 32-35 card counter,
//       bits 48-63 four 4-bit suit counters (suit s at bits 48+4s).
// mask: one bit per card, card (rank r, suit s) at bit 16*(3-s)+r.
//
// Pure C++: nothing here knows about Python, so the table generator, the
// module and the C++ benchmarks share it.
#pragma once

#include <array>
#include <bit>
#include <cstdint>

namespace tavrix {

// Chosen so that every multiset of up to seven ranks (no rank more than four
// times) has a distinct sum; the largest such sum is 0x1FFE87F.
inline constexpr std::array<std::uint64_t, 13> RANK_BASES = {
    0x2000,   0x8001,   0x11000,  0x3A000,  0x91000,  0x176005, 0x366000,
    0x41A013, 0x47802E, 0x479068, 0x48C0E4, 0x48F211, 0x494493,
};

inline constexpr int CARD_COUNT = 52;

struct HandValue {
    std::uint64_t key;
    std::uint64_t mask;
};

// Every suit counter starts at 3, so a fifth card of one suit sets bit 3 of
// its counter, which is what the flush test reads.
inline constexpr HandValue EMPTY_HAND = {0x3333000000000000ULL, 0};

inline constexpr std::uint64_t FLUSH_FLAGS = 0x8888000000000000ULL;

constexpr HandValue single_card(unsigned index) {
    const unsigned rank = index >> 2;
    const unsigned suit = index & 3;
    return {(std::uint64_t{1} << (48 + 4 * suit)) + RANK_BASES[rank] + (std::uint64_t{1} << 32),
            std::uint64_t{1} << (16 * (3 - suit) + rank)};
}

constexpr std::array<HandValue, CARD_COUNT> make_card_table() {
    std::array<HandValue, CARD_COUNT> table{};
    for (unsigned i = 0; i < CARD_COUNT; ++i) table[i] = single_card(i);
    return table;
}

// The 52 unbiased single-card hands, indexed by card index 4*rank + suit.
inline constexpr std::array<HandValue, CARD_COUNT> CARD_TABLE = make_card_table();

// Adding keys wraps modulo 2^64 by design: nothing checks for duplicates.
constexpr HandValue combine(HandValue a, HandValue b) { return {a.key + b.key, a.mask | b.mask}; }

constexpr std::uint32_t rank_key(HandValue h) { return static_cast<std::uint32_t>(h.key); }

constexpr std::uint32_t counters_word(HandValue h) { return static_cast<std::uint32_t>(h.key >> 32); }

constexpr std::uint32_t card_count(HandValue h) { return counters_word(h) & 0xF; }

// Suit numbers above 3 wrap: the shift depends only on suit mod 8.
constexpr std::int32_t suit_count(HandValue h, std::uint8_t suit) {
    const unsigned shift = (16u + 4u * suit) % 32u;
    return static_cast<std::int32_t>((counters_word(h) >> shift) & 0xF) - 3;
}

constexpr bool has_flush(std::uint64_t key) { return (key & FLUSH_FLAGS) != 0; }
constexpr bool has_flush(HandValue h) { return has_flush(h.key); }

// Only valid when has_flush(key): the highest flagged suit counter picks the
// 16-bit group of mask (suit 3 -> shift 0, suit 0 -> shift 48).
constexpr std::uint16_t flush_group(std::uint64_t key, std::uint64_t mask) {
    const auto flags = static_cast<std::uint32_t>(key >> 32) & 0x88880000u;
    return static_cast<std::uint16_t>(mask >> (4 * std::countl_zero(flags)));
}

constexpr std::uint16_t flush_key(HandValue h) { return has_flush(h) ? flush_group(h.key, h.mask) : 0; }

// The biased hand of the cards whose bits 0-51 are set; bits 52-63 are ignored.
constexpr HandValue from_bit_mask(std::uint64_t mask) {
    HandValue h = EMPTY_HAND;
    for (unsigned i = 0; i < CARD_COUNT; ++i)
        if ((mask >> i) & 1) h = combine(h, CARD_TABLE[i]);
    return h;
}

// Sanity checks on the layout, evaluated by the compiler.
static_assert(CARD_TABLE[0].key == 0x0001000100002000ULL && CARD_TABLE[0].mask == 0x0001000000000000ULL);
static_assert(CARD_TABLE[51].key == 0x1000000100494493ULL && CARD_TABLE[51].mask == 0x0000000000001000ULL);
static_assert(from_bit_mask(0x11111).key == 0x33380005000E6001ULL);

}  // namespace tavrix
