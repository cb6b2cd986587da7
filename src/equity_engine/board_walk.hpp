// Every completion of a board: nested loops over the remaining deck, each
// level adding one card's words to a running partial board.
#pragma once

#include "hand_evaluator/hand_value.hpp"

namespace tavrix::equity {

// The cards not in `used`, as words in card order; returns how many.
inline int remaining_deck(std::uint64_t used, HandValue* deck) noexcept {
    int n = 0;
    for (unsigned c = 0; c < CARD_COUNT; ++c)
        if (!((used >> c) & 1)) deck[n++] = CARD_TABLE[c];
    return n;
}

// The cards not in `used`, as card indices in order; returns how many.
inline int remaining_cards(std::uint64_t used, std::uint8_t* deck) noexcept {
    int n = 0;
    for (unsigned c = 0; c < CARD_COUNT; ++c)
        if (!((used >> c) & 1)) deck[n++] = static_cast<std::uint8_t>(c);
    return n;
}

// The number of ways to choose k of n things.
inline std::uint64_t choose(int n, int k) noexcept {
    if (k < 0 || k > n) return 0;
    std::uint64_t result = 1;
    for (int i = 1; i <= k; ++i) result = result * static_cast<std::uint64_t>(n - k + i) / static_cast<std::uint64_t>(i);
    return result;
}

// Visits every choice of `Depth` cards from deck[start..n) added to `partial`,
// in lexicographic order of deck positions. A card is added by
// combine(partial, card): hand words, or any partial board that has one.
template <int Depth, typename Card, typename Partial, typename Visit>
inline void walk_boards(const Card* deck, int n, int start, Partial partial, Visit& visit) {
    if constexpr (Depth == 0) {
        visit(partial);
    } else {
        for (int i = start; i <= n - Depth; ++i) walk_boards<Depth - 1>(deck, n, i + 1, combine(partial, deck[i]), visit);
    }
}

// The same with the number of cards chosen at run time (0 to 5).
template <typename Card, typename Partial, typename Visit>
void walk_boards(int depth, const Card* deck, int n, int start, Partial partial, Visit& visit) {
    switch (depth) {
        case 0: return walk_boards<0>(deck, n, start, partial, visit);
        case 1: return walk_boards<1>(deck, n, start, partial, visit);
        case 2: return walk_boards<2>(deck, n, start, partial, visit);
        case 3: return walk_boards<3>(deck, n, start, partial, visit);
        case 4: return walk_boards<4>(deck, n, start, partial, visit);
        default: return walk_boards<5>(deck, n, start, partial, visit);
    }
}

}  // namespace tavrix::equity
