// Indexing whole arrays of states, checked, on worker threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "equity_engine/batch_scoring.hpp"
#include "equity_engine/equity_runs.hpp"
#include "equity_engine/hand_indexer.hpp"

namespace tavrix::equity {

// Rows go to the workers in chunks of this many.
inline constexpr std::size_t INDEX_ROWS_PER_CHUNK = 1 << 16;

// Indices of `rows` states of indexer.cards() card indices each, row-major.
// Every card is checked (0 to 51, distinct within its row): the first bad row
// is returned and `indices` is then incomplete. Card is std::int64_t or
// std::uint8_t.
template <typename Card>
std::optional<BadRow> index_rows(const HandIndexer& indexer, const Card* cards, std::size_t rows,
                                 std::uint64_t* indices, unsigned threads, const KeepGoing& keep_going);

// Representative states (indexer.cards() cards each) of `count` indices.
// Returns the position of the first index at or above indexer.size(), if any;
// `cards` is then incomplete.
std::optional<std::size_t> unindex_rows(const HandIndexer& indexer, const std::uint64_t* indices, std::size_t count,
                                        std::uint8_t* cards, unsigned threads, const KeepGoing& keep_going);

}  // namespace tavrix::equity
