#include "equity_engine/river_sweep.hpp"

namespace tavrix::equity {
namespace {

// One stable counting pass over the byte of the key at `shift`.
template <std::size_t N>
void counting_pass(const std::array<std::uint32_t, N>& in, std::array<std::uint32_t, N>& out, unsigned shift) noexcept {
    std::array<std::uint32_t, 257> start{};
    for (const std::uint32_t key : in) ++start[((key >> shift) & 0xFF) + 1];
    for (unsigned i = 1; i < 257; ++i) start[i] += start[i - 1];
    for (const std::uint32_t key : in) out[start[(key >> shift) & 0xFF]++] = key;
}

}  // namespace

bool RiverSweep::run(HandValue board, std::uint64_t board_mask, std::uint16_t* value) noexcept {
    int n = 0;
    for (unsigned c = 0; c < CARD_COUNT; ++c)
        if (!((board_mask >> c) & 1) && n < RIVER_DECK) cards_[n++] = static_cast<std::uint8_t>(c);
    bool fault = n != RIVER_DECK;
    if (fault) return false;

    // Keys are score << 16 | slot: scores stay below 2^16 and slots below 1081.
    std::uint32_t slot = 0;
    for (int i = 0; i < RIVER_DECK; ++i) {
        const HandValue first = combine(board, CARD_TABLE[cards_[i]]);
        for (int j = i + 1; j < RIVER_DECK; ++j, ++slot) {
            const HandValue hand = combine(first, CARD_TABLE[cards_[j]]);
            keys_[slot] = std::uint32_t{tables_.score(hand, fault)} << 16 | slot;
            combo_cards_[2 * slot] = cards_[i];
            combo_cards_[2 * slot + 1] = cards_[j];
        }
    }
    if (fault) return false;
    counting_pass(keys_, sorted_, 16);
    counting_pass(sorted_, keys_, 24);

    // Walk groups of equal score upwards. An opponent combo is one sharing no
    // card with the hero's {x, y}: of the combos below, those holding x or y
    // are not (none holds both, that would be the hero's own combo).
    std::array<std::uint32_t, CARD_COUNT> below_card{}, equal_card{};
    std::uint32_t below_total = 0;
    std::size_t start = 0;
    while (start < keys_.size()) {
        const std::uint32_t score = keys_[start] >> 16;
        std::size_t end = start;
        while (end < keys_.size() && (keys_[end] >> 16) == score) {
            const std::uint32_t s = keys_[end] & 0xFFFF;
            ++equal_card[combo_cards_[2 * s]];
            ++equal_card[combo_cards_[2 * s + 1]];
            ++end;
        }
        const auto group = static_cast<std::uint32_t>(end - start);
        for (std::size_t k = start; k < end; ++k) {
            const std::uint32_t s = keys_[k] & 0xFFFF;
            const std::uint8_t x = combo_cards_[2 * s], y = combo_cards_[2 * s + 1];
            const std::uint32_t beaten = below_total - below_card[x] - below_card[y];
            // The hero's own combo is in the group and counted under x and y.
            const std::uint32_t tied = group - equal_card[x] - equal_card[y] + 1;
            value[s] = static_cast<std::uint16_t>(2 * beaten + tied);
        }
        for (std::size_t k = start; k < end; ++k) {
            const std::uint32_t s = keys_[k] & 0xFFFF;
            const std::uint8_t x = combo_cards_[2 * s], y = combo_cards_[2 * s + 1];
            below_card[x] += 1;
            below_card[y] += 1;
            equal_card[x] = 0;
            equal_card[y] = 0;
        }
        below_total += group;
        start = end;
    }
    return true;
}

}  // namespace tavrix::equity
