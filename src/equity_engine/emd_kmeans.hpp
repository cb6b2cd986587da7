// k-means clustering of 1-D histograms under the earth mover's distance.
//
// For histograms over the same ordered bins, one unit apart, the earth mover's
// distance is the L1 distance between their cumulative sums, so every row is
// turned into its cumulative form once and the clustering runs on those:
//  - seeding: k-means++, each new centre a row drawn with probability
//    proportional to its squared distance to the nearest centre so far, from
//    one random stream of the seed;
//  - assignment: each row to its nearest centre, the lowest-numbered on ties;
//  - update: each centre becomes the per-bin median of its members'
//    cumulative forms (the lower middle value for an even count), which is the
//    point nearest to them all in L1, so the total distance never grows. A
//    median of non-decreasing vectors is non-decreasing, so a centre stays a
//    cumulative form. A centre left without members keeps its place.
// Assignment and update alternate `iterations` times at most, stopping early
// once no label changes; the labels returned are those of the last
// assignment, each row's nearest centre. Rows are handled in fixed blocks and
// sums combined in block order, so the result does not depend on the thread
// count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "equity_engine/batch_scoring.hpp"
#include "equity_engine/equity_runs.hpp"

namespace tavrix::equity {

// Rows per block of work (and of the seeding's partial sums).
inline constexpr std::size_t KMEANS_BLOCK_ROWS = 2048;

struct KMeansRequest {
    std::size_t rows = 0;
    std::size_t bins = 0;
    std::size_t clusters = 0;  // 1 to rows
    std::uint64_t seed = 0;
    std::size_t iterations = 20;
};

// Clusters `request.rows` histograms of `request.bins` values each (row-major,
// Value float or double). Writes a label per row and the centres as
// histograms (clusters x bins, row-major). A row with a value that is not
// finite or is negative is returned, the outputs then unspecified.
template <typename Value>
std::optional<BadRow> emd_kmeans(const Value* histograms, const KMeansRequest& request, std::int32_t* labels,
                                 double* centres, unsigned threads, const KeepGoing& keep_going);

}  // namespace tavrix::equity
