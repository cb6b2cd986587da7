// `exact`: prints the exact preflop all-in equity of each of the 1,326
// starting combos against one random hand, as "c1 c2 wins ties boards" lines
// (ties counted once per tied villain combo, boards = villain combos met over
// all boards).
//
// `multiway TRIALS SEED`: for each of the 169 starting-hand classes (one combo
// each: the equity does not depend on the suits) and 2 to 9 random opponents,
// TRIALS random deals of the opponents' hands and the board, as
// "c1 c2 opponents shares trials" lines, shares in 1/2520 of a pot.
//
// Every 5-card board is swept once: the 1,081 live combos are scored and
// sorted, and a walk in score order gives each combo the number of villain
// combos it beats and ties, card removal included, from running sums per card.
// Used to build the committed starting-hand table; takes a minute or two.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

#include <cstdlib>
#include <cstring>
#include <string>

#include "equity_engine/random.hpp"
#include "equity_engine/table_view.hpp"

using namespace tavrix;
using namespace tavrix::equity;

namespace {

constexpr std::uint64_t UNIT_SHARE[11] = {0, 2520, 1260, 840, 630, 504, 420, 360, 315, 280, 252};

int multiway(std::uint64_t trials, std::uint64_t seed) {
    const TableView tables = table_view();
    bool fault = false;
    for (int high = 12; high >= 0; --high)
        for (int low = high; low >= 0; --low)
            for (int suited = 1; suited >= (low == high ? 1 : 0); --suited) {
                const int a = 4 * high + 1, b = 4 * low + (suited && low != high ? 1 : 0);
                const HandValue hero = combine(CARD_TABLE[a], CARD_TABLE[b]);
                for (int opponents = 2; opponents <= 9; ++opponents) {
                    // One stream per class and opponent count: any entry can be recomputed alone.
                    BlockRandom random(seed, static_cast<std::uint64_t>(a * 52 + b) * 16 + opponents);
                    std::uint8_t deck[52];
                    std::uint32_t n = 0;
                    for (int c = 0; c < 52; ++c)
                        if (c != a && c != b) deck[n++] = static_cast<std::uint8_t>(c);
                    const std::uint32_t dealt = 2 * opponents + 5;
                    std::uint64_t shares = 0;
                    for (std::uint64_t t = 0; t < trials; ++t) {
                        for (std::uint32_t k = 0; k < dealt; ++k) std::swap(deck[k], deck[k + random.below(n - k)]);
                        HandValue board = EMPTY_HAND;
                        for (std::uint32_t k = 2 * opponents; k < dealt; ++k) board = combine(board, CARD_TABLE[deck[k]]);
                        const std::uint16_t mine = tables.score(combine(board, hero), fault);
                        std::uint16_t best = 0;
                        unsigned equal = 0;
                        for (int p = 0; p < opponents; ++p) {
                            const HandValue hole = combine(CARD_TABLE[deck[2 * p]], CARD_TABLE[deck[2 * p + 1]]);
                            const std::uint16_t score = tables.score(combine(board, hole), fault);
                            if (score > best) best = score, equal = 0;
                            equal += score == best;
                        }
                        if (mine > best) shares += UNIT_SHARE[1];
                        else if (mine == best) shares += UNIT_SHARE[equal + 1];
                    }
                    std::printf("%d %d %d %llu %llu\n", a, b, opponents, static_cast<unsigned long long>(shares),
                                static_cast<unsigned long long>(trials));
                }
            }
    return fault ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "multiway") == 0)
        return multiway(std::strtoull(argv[2], nullptr, 10), std::strtoull(argv[3], nullptr, 10));
    if (argc != 2 || std::strcmp(argv[1], "exact") != 0) {
        std::fprintf(stderr, "usage: %s exact | multiway TRIALS SEED\n", argv[0]);
        return 2;
    }
    const TableView tables = table_view();
    std::array<int, 52 * 52> combo_index{};
    std::vector<std::array<std::uint8_t, 2>> combos;
    for (int a = 0; a < 52; ++a)
        for (int b = 0; b < a; ++b) {
            combo_index[a * 52 + b] = static_cast<int>(combos.size());
            combos.push_back({static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)});
        }
    std::vector<std::uint64_t> wins(combos.size()), ties(combos.size()), boards(combos.size());
    std::vector<std::uint32_t> keys;
    keys.reserve(1081);
    bool fault = false;
    int cards[5];
    for (cards[0] = 0; cards[0] < 52; ++cards[0])
        for (cards[1] = cards[0] + 1; cards[1] < 52; ++cards[1])
            for (cards[2] = cards[1] + 1; cards[2] < 52; ++cards[2])
                for (cards[3] = cards[2] + 1; cards[3] < 52; ++cards[3])
                    for (cards[4] = cards[3] + 1; cards[4] < 52; ++cards[4]) {
                        std::uint64_t used = 0;
                        HandValue board = EMPTY_HAND;
                        for (const int c : cards) {
                            used |= std::uint64_t{1} << c;
                            board = combine(board, CARD_TABLE[c]);
                        }
                        keys.clear();
                        for (std::size_t i = 0; i < combos.size(); ++i) {
                            const auto [a, b] = combos[i];
                            if ((used >> a) & 1 || (used >> b) & 1) continue;
                            const HandValue hand = combine(board, combine(CARD_TABLE[a], CARD_TABLE[b]));
                            keys.push_back(static_cast<std::uint32_t>(tables.score(hand, fault)) << 16 |
                                           static_cast<std::uint32_t>(i));
                        }
                        std::sort(keys.begin(), keys.end());
                        std::uint64_t below_total = 0, below_card[52] = {};
                        for (std::size_t g = 0; g < keys.size();) {
                            std::size_t end = g;
                            while (end < keys.size() && keys[end] >> 16 == keys[g] >> 16) ++end;
                            std::uint64_t equal_card[52] = {};
                            for (std::size_t k = g; k < end; ++k) {
                                const auto [a, b] = combos[keys[k] & 0xFFFF];
                                ++equal_card[a];
                                ++equal_card[b];
                            }
                            const std::uint64_t equal_total = end - g;
                            for (std::size_t k = g; k < end; ++k) {
                                const std::uint32_t i = keys[k] & 0xFFFF;
                                const auto [a, b] = combos[i];
                                wins[i] += below_total - below_card[a] - below_card[b];
                                ties[i] += equal_total - equal_card[a] - equal_card[b] + 1;
                                boards[i] += keys.size() - 2 * 46 + 1;
                            }
                            for (std::size_t k = g; k < end; ++k) {
                                const auto [a, b] = combos[keys[k] & 0xFFFF];
                                ++below_card[a];
                                ++below_card[b];
                            }
                            below_total += equal_total;
                            g = end;
                        }
                    }
    if (fault) {
        std::fprintf(stderr, "the lookup tables are damaged\n");
        return 1;
    }
    for (std::size_t i = 0; i < combos.size(); ++i)
        std::printf("%d %d %llu %llu %llu\n", combos[i][0], combos[i][1], static_cast<unsigned long long>(wins[i]),
                    static_cast<unsigned long long>(ties[i]), static_cast<unsigned long long>(boards[i]));
    return 0;
}
