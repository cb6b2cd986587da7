#include "equity_engine/random_deal.hpp"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <utility>

#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/random.hpp"

namespace tavrix::equity {

namespace {

constexpr unsigned DECK_CARDS = 52;
using Deck = std::array<std::uint8_t, DECK_CARDS>;

// A partial Fisher-Yates shuffle from whatever order the deck is in gives a
// uniform ordered draw, so the deck is not reset between rows: each row costs
// `width` draws and swaps, nothing more.
void deal_block(std::uint8_t* out, std::size_t rows, std::size_t width, const Deck& live, unsigned live_count,
                BlockRandom& random) {
    Deck deck = live;
    for (std::size_t row = 0; row < rows; ++row) {
        std::uint8_t* cards = out + row * width;
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t j = i + random.below(live_count - static_cast<unsigned>(i));
            std::swap(deck[i], deck[j]);
            cards[i] = deck[i];
        }
    }
}

}  // namespace

void deal_random_rows(std::uint8_t* out, std::size_t rows, std::size_t width, std::uint64_t excluded_mask,
                      std::uint64_t seed, unsigned threads, const KeepGoing& keep_going) {
    Deck live{};
    unsigned live_count = 0;
    for (unsigned card = 0; card < DECK_CARDS; ++card)
        if (!(excluded_mask >> card & 1)) live[live_count++] = static_cast<std::uint8_t>(card);
    if (width > live_count) throw std::invalid_argument("more cards per row than the deck has left");
    if (rows == 0 || width == 0) return;
    const std::size_t blocks = (rows + DEAL_ROWS_PER_BLOCK - 1) / DEAL_ROWS_PER_BLOCK;
    run_parallel(
        blocks, threads,
        [&](std::size_t block) {
            BlockRandom random(seed, block);
            const std::size_t first = block * DEAL_ROWS_PER_BLOCK;
            const std::size_t count = std::min(DEAL_ROWS_PER_BLOCK, rows - first);
            deal_block(out + first * width, count, width, live, live_count, random);
        },
        keep_going);
}

}  // namespace tavrix::equity
