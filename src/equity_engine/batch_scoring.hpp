// Scoring whole arrays: rows of card indices, or pairs of hand words.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "equity_engine/equity_runs.hpp"
#include "equity_engine/parallel_runner.hpp"

namespace tavrix::equity {

inline constexpr std::size_t MAX_HAND_CARDS = 7;

struct BadRow {
    std::size_t row;
    std::string reason;
};

// Large arrays are scored in chunks of this many rows, spread over `threads`.
inline constexpr std::size_t ROWS_PER_CHUNK = 1 << 16;

// Scores `rows` hands of `width` (0 to 7) card indices each, row-major. Every
// card is checked (0 to 51, distinct within its row): the first bad row is
// returned and `scores` is then incomplete. Card is std::int64_t or std::uint8_t
// (the compact form, an eighth of the memory to read).
template <typename Card>
std::optional<BadRow> score_card_rows(const Card* cards, std::size_t rows, std::size_t width, std::uint16_t* scores,
                                      unsigned threads, const KeepGoing& keep_going);

// Scores pairs of hand words exactly as the tavrix module does. Returns the
// position of the first pair that would read outside a table.
std::optional<std::size_t> score_word_pairs(const std::uint64_t* keys, const std::uint64_t* masks,
                                            std::size_t count, std::uint16_t* scores, unsigned threads,
                                            const KeepGoing& keep_going);

// Runs `score_range(first, last)` over chunks of rows on worker threads; of
// the bad rows found, the one in the earliest chunk is the first of all.
template <typename Bad, typename ScoreRange>
std::optional<Bad> score_in_chunks(std::size_t rows, unsigned threads, const KeepGoing& keep_going,
                                   ScoreRange&& score_range) {
    const std::size_t chunks = (rows + ROWS_PER_CHUNK - 1) / ROWS_PER_CHUNK;
    if (chunks <= 1) return score_range(0, rows);
    std::vector<std::optional<Bad>> bad(chunks);
    run_parallel(
        chunks, threads,
        [&](std::size_t chunk) {
            bad[chunk] = score_range(chunk * ROWS_PER_CHUNK, std::min(rows, (chunk + 1) * ROWS_PER_CHUNK));
        },
        keep_going);
    for (std::optional<Bad>& found : bad)
        if (found) return std::move(found);
    return std::nullopt;
}

}  // namespace tavrix::equity
