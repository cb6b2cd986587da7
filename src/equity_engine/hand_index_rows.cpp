#include "equity_engine/hand_index_rows.hpp"

#include <algorithm>
#include <string>
#include <type_traits>
#include <vector>

#include "equity_engine/parallel_runner.hpp"

namespace tavrix::equity {

namespace {

constexpr std::int64_t DECK = 52;

template <typename Card>
std::optional<BadRow> check_row(const Card* row_cards, std::size_t width, std::size_t row) {
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < width; ++i) {
        const std::int64_t card = row_cards[i];
        if (card < 0 || card >= DECK) return BadRow{row, "card index " + std::to_string(card) + " is outside 0 to 51"};
        const std::uint64_t bit = std::uint64_t{1} << card;
        if (seen & bit) return BadRow{row, "card index " + std::to_string(card) + " appears twice"};
        seen |= bit;
    }
    return std::nullopt;
}

// Runs `range(first, last)` over chunks on worker threads; of the failures
// found, the one in the earliest chunk comes first of all.
template <typename Bad, typename Range>
std::optional<Bad> in_chunks(std::size_t rows, unsigned threads, const KeepGoing& keep_going, Range&& range) {
    const std::size_t chunks = (rows + INDEX_ROWS_PER_CHUNK - 1) / INDEX_ROWS_PER_CHUNK;
    if (chunks <= 1) return range(0, rows);
    std::vector<std::optional<Bad>> bad(chunks);
    run_parallel(
        chunks, threads,
        [&](std::size_t chunk) {
            bad[chunk] = range(chunk * INDEX_ROWS_PER_CHUNK, std::min(rows, (chunk + 1) * INDEX_ROWS_PER_CHUNK));
        },
        keep_going);
    for (std::optional<Bad>& found : bad)
        if (found) return std::move(found);
    return std::nullopt;
}

// The first bad row of rows [first, last) of `Width` cards, if any; sound
// rows are copied to `compact` as bytes. The width is a template parameter so
// the per-card loop unrolls.
template <std::size_t Width, typename Card>
std::optional<BadRow> check_rows(const Card* cards, std::size_t first, std::size_t last, std::uint8_t* compact) {
    for (std::size_t row = first; row < last; ++row) {
        const Card* row_cards = cards + row * Width;
        // Sound when every card is below 52 and sets a bit of its own.
        std::uint64_t seen = 0, repeated = 0;
        bool outside = false;
        for (std::size_t i = 0; i < Width; ++i) {
            const auto card = static_cast<std::uint64_t>(row_cards[i]);
            const std::uint64_t bit = std::uint64_t{1} << (card & 63);
            outside |= card >= static_cast<std::uint64_t>(DECK);
            repeated |= seen & bit;
            seen |= bit;
            compact[(row - first) * Width + i] = static_cast<std::uint8_t>(card);
        }
        if (outside || repeated != 0) [[unlikely]]
            return check_row(row_cards, Width, row);
    }
    return std::nullopt;
}

}  // namespace

template <typename Card>
std::optional<BadRow> index_rows(const HandIndexer& indexer, const Card* cards, std::size_t rows,
                                 std::uint64_t* indices, unsigned threads, const KeepGoing& keep_going) {
    const std::size_t width = indexer.cards();
    return in_chunks<BadRow>(rows, threads, keep_going, [&](std::size_t first, std::size_t last) -> std::optional<BadRow> {
        if constexpr (std::is_same_v<Card, std::uint8_t>) {
            const std::size_t sound = indexer.index_many_checked(cards + first * width, last - first, indices + first);
            if (sound == last - first) return std::nullopt;
            return check_row(cards + (first + sound) * width, width, first + sound);
        } else {
            std::vector<std::uint8_t> compact((last - first) * width);
            std::optional<BadRow> bad;
            switch (width) {
                case 2: bad = check_rows<2>(cards, first, last, compact.data()); break;
                case 5: bad = check_rows<5>(cards, first, last, compact.data()); break;
                case 6: bad = check_rows<6>(cards, first, last, compact.data()); break;
                default: bad = check_rows<7>(cards, first, last, compact.data()); break;
            }
            if (bad) return bad;
            indexer.index_many(compact.data(), last - first, indices + first);
            return std::nullopt;
        }
    });
}

template std::optional<BadRow> index_rows(const HandIndexer&, const std::int64_t*, std::size_t, std::uint64_t*,
                                          unsigned, const KeepGoing&);
template std::optional<BadRow> index_rows(const HandIndexer&, const std::uint8_t*, std::size_t, std::uint64_t*,
                                          unsigned, const KeepGoing&);

std::optional<std::size_t> unindex_rows(const HandIndexer& indexer, const std::uint64_t* indices, std::size_t count,
                                        std::uint8_t* cards, unsigned threads, const KeepGoing& keep_going) {
    const std::size_t width = indexer.cards();
    return in_chunks<std::size_t>(count, threads, keep_going,
                                  [&](std::size_t first, std::size_t last) -> std::optional<std::size_t> {
                                      for (std::size_t i = first; i < last; ++i)
                                          if (indices[i] >= indexer.size()) [[unlikely]]
                                              return i;
                                      indexer.unindex_many(indices + first, last - first, cards + first * width);
                                      return std::nullopt;
                                  });
}

}  // namespace tavrix::equity
