#include "equity_engine/emd_kmeans.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/random.hpp"

namespace tavrix::equity {

namespace {

// Cumulative forms are kept as floats, padded with zeros to a multiple of 8
// bins so the distance loop runs on whole vectors: half the memory and twice
// the lanes of doubles, and the clustering only compares distances.
constexpr std::size_t LANES = 8;
// Values a worker gathers at once for the medians: 64 MB of floats.
constexpr std::size_t MEDIAN_BUFFER = std::size_t{1} << 24;
constexpr float BOUND_MARGIN = 1e-4f;
constexpr std::size_t MAX_GAP_CENTRES = 4096;

class Clustering {
public:
    Clustering(const KMeansRequest& request, unsigned threads, const KeepGoing& keep_going)
        : request_(request),
          stride_((request.bins + LANES - 1) / LANES * LANES),
          blocks_((request.rows + KMEANS_BLOCK_ROWS - 1) / KMEANS_BLOCK_ROWS),
          threads_(threads),
          keep_going_(keep_going),
          forms_(request.rows * stride_),
          centres_(request.clusters * stride_, 0.0f) {}

    template <typename Value>
    std::optional<BadRow> load(const Value* histograms) {
        std::vector<std::optional<BadRow>> bad(blocks_);
        in_blocks([&](std::size_t block, std::size_t first, std::size_t last) {
            for (std::size_t row = first; row < last; ++row) {
                const Value* values = histograms + row * request_.bins;
                float* form = &forms_[row * stride_];
                double sum = 0;
                for (std::size_t b = 0; b < request_.bins; ++b) {
                    const double value = static_cast<double>(values[b]);
                    if (!(value >= 0) || std::isinf(value)) {
                        bad[block] = BadRow{row, describe(value, b)};
                        return;
                    }
                    sum += value;
                    form[b] = static_cast<float>(sum);
                }
            }
        });
        for (auto& found : bad)
            if (found) return std::move(found);
        return std::nullopt;
    }

    void seed() {
        BlockRandom random(request_.seed, 0);
        // Per row: the nearest centre so far, its distance and that squared.
        std::vector<std::uint32_t> nearest_centre(request_.rows, 0);
        std::vector<float> nearest(request_.rows);
        std::vector<double> squared(request_.rows);
        std::vector<double> block_sums(blocks_);
        std::vector<float> gap(request_.clusters);  // from the new centre to each earlier one
        std::size_t chosen = random.next() % request_.rows;
        for (std::size_t c = 0;; ++c) {
            std::copy_n(&forms_[chosen * stride_], stride_, &centres_[c * stride_]);
            if (c + 1 == request_.clusters) break;
            const float* centre = &centres_[c * stride_];
            for (std::size_t e = 0; e < c; ++e) gap[e] = distance(centre, &centres_[e * stride_]);
            in_blocks([&](std::size_t block, std::size_t first, std::size_t last) {
                double sum = 0;
                for (std::size_t row = first; row < last; ++row) {
                    // The new centre cannot come nearer when it lies twice as
                    // far from the row's nearest centre as the row does.
                    if (c == 0 || !surely_below(2 * nearest[row], gap[nearest_centre[row]])) {
                        const float d = distance(&forms_[row * stride_], centre);
                        if (c == 0 || d < nearest[row]) {
                            nearest[row] = d;
                            nearest_centre[row] = static_cast<std::uint32_t>(c);
                            squared[row] = static_cast<double>(d) * d;
                        }
                    }
                    sum += squared[row];
                }
                block_sums[block] = sum;
            });
            double total = 0;
            for (const double sum : block_sums) total += sum;
            chosen = total > 0 ? draw(squared, block_sums, random.unit() * total) : random.next() % request_.rows;
        }
    }

    // Assigns every row to its nearest centre; returns how many labels changed.
    // After the first time, bounds skip most rows: `upper` is at least the
    // distance to the row's centre and `lower` at most that to any other, both
    // carried across an update by how far the centres moved; a row whose
    // upper bound stays below its lower bound, or below half the gap from its
    // centre to the nearest other centre, keeps its label, exactly as a full
    // search would decide.
    std::size_t assign(std::int32_t* labels, bool first_time) {
        std::vector<std::size_t> changed(blocks_);
        in_blocks([&](std::size_t block, std::size_t first, std::size_t last) {
            std::size_t count = 0;
            for (std::size_t row = first; row < last; ++row) {
                const float* form = &forms_[row * stride_];
                if (!first_time) {
                    const auto label = static_cast<std::size_t>(labels[row]);
                    float upper = upper_[row] + movement_[label];
                    const float lower = lower_[row] - (label == fastest_ ? second_move_ : fastest_move_);
                    const float bound = std::max(lower, half_gap_[label]);
                    lower_[row] = lower;
                    if (surely_below(upper, bound)) {
                        upper_[row] = upper;
                        continue;
                    }
                    upper = distance(form, &centres_[label * stride_]);
                    upper_[row] = upper;
                    if (surely_below(upper, bound)) continue;
                }
                std::int32_t best = 0;
                float best_distance = std::numeric_limits<float>::infinity();
                float second_distance = std::numeric_limits<float>::infinity();
                for (std::size_t c = 0; c < request_.clusters; ++c) {
                    const float d = distance(form, &centres_[c * stride_]);
                    if (d < best_distance) {
                        second_distance = best_distance;
                        best_distance = d;
                        best = static_cast<std::int32_t>(c);
                    } else if (d < second_distance) {
                        second_distance = d;
                    }
                }
                count += first_time || labels[row] != best;
                labels[row] = best;
                upper_[row] = best_distance;
                lower_[row] = second_distance;
            }
            changed[block] = count;
        });
        std::size_t total = 0;
        for (const std::size_t c : changed) total += c;
        return total;
    }

    // Moves each centre to the per-bin median of its members.
    void update(const std::int32_t* labels) {
        // Members of each cluster in increasing row order (a counting sort).
        std::vector<std::size_t> start(request_.clusters + 1, 0);
        for (std::size_t row = 0; row < request_.rows; ++row) ++start[static_cast<std::size_t>(labels[row]) + 1];
        for (std::size_t c = 0; c < request_.clusters; ++c) start[c + 1] += start[c];
        std::vector<std::uint32_t> members(request_.rows);
        {
            std::vector<std::size_t> next(start.begin(), start.end() - 1);
            for (std::size_t row = 0; row < request_.rows; ++row)
                members[next[static_cast<std::size_t>(labels[row])]++] = static_cast<std::uint32_t>(row);
        }
        const std::vector<float> previous = centres_;
        check_keep_going();
        run_parallel(
            request_.clusters, threads_,
            [&](std::size_t c) {
                const std::size_t count = start[c + 1] - start[c];
                if (count == 0) return;
                const std::uint32_t* rows = &members[start[c]];
                // Members' values a few bins at a time, bin by bin, so each
                // median selects from one contiguous run.
                const std::size_t group = std::clamp<std::size_t>(MEDIAN_BUFFER / count, 1, request_.bins);
                std::vector<float> values(group * count);
                for (std::size_t first_bin = 0; first_bin < request_.bins; first_bin += group) {
                    if (stop_requested()) throw Cancelled();
                    const std::size_t bins = std::min(group, request_.bins - first_bin);
                    for (std::size_t i = 0; i < count; ++i) {
                        const float* form = &forms_[rows[i] * stride_ + first_bin];
                        for (std::size_t b = 0; b < bins; ++b) values[b * count + i] = form[b];
                    }
                    for (std::size_t b = 0; b < bins; ++b) {
                        const auto begin = values.begin() + static_cast<std::ptrdiff_t>(b * count);
                        const auto middle = begin + static_cast<std::ptrdiff_t>((count - 1) / 2);
                        std::nth_element(begin, middle, begin + static_cast<std::ptrdiff_t>(count));
                        centres_[c * stride_ + first_bin + b] = *middle;
                    }
                }
            },
            keep_going_);
        measure_moves(previous);
    }

    void write_centres(double* out) const {
        for (std::size_t c = 0; c < request_.clusters; ++c) {
            double previous = 0;
            for (std::size_t b = 0; b < request_.bins; ++b) {
                const double value = centres_[c * stride_ + b];
                out[c * request_.bins + b] = value - previous;
                previous = value;
            }
        }
    }

private:
    // How far each centre moved, the two largest moves, and half the gap from
    // each centre to its nearest neighbour (skipped for very many centres,
    // where it would cost more than it saves).
    void measure_moves(const std::vector<float>& previous) {
        const std::size_t k = request_.clusters;
        movement_.assign(k, 0.0f);
        fastest_move_ = second_move_ = 0.0f;
        fastest_ = 0;
        for (std::size_t c = 0; c < k; ++c) {
            const float moved = distance(&previous[c * stride_], &centres_[c * stride_]);
            movement_[c] = moved;
            if (moved > fastest_move_) {
                second_move_ = fastest_move_;
                fastest_move_ = moved;
                fastest_ = c;
            } else if (moved > second_move_) {
                second_move_ = moved;
            }
        }
        half_gap_.assign(k, 0.0f);
        if (k > MAX_GAP_CENTRES) return;
        std::vector<float> nearest(k, std::numeric_limits<float>::infinity());
        for (std::size_t c = 0; c < k; ++c)
            for (std::size_t e = c + 1; e < k; ++e) {
                const float gap = distance(&centres_[c * stride_], &centres_[e * stride_]);
                nearest[c] = std::min(nearest[c], gap);
                nearest[e] = std::min(nearest[e], gap);
            }
        for (std::size_t c = 0; c < k; ++c) half_gap_[c] = k > 1 ? nearest[c] / 2 : 0.0f;
    }

    // Whether a < b holds beyond any doubt from float rounding in distances
    // (relative error far below 1e-4 for sums of a few hundred terms).
    static bool surely_below(float a, float b) noexcept { return a * (1 + BOUND_MARGIN) + BOUND_MARGIN * 1e-3f < b; }

    static std::string describe(double value, std::size_t bin) {
        const std::string where = " in bin " + std::to_string(bin);
        if (std::isnan(value)) return "nan" + where + " is not finite";
        if (std::isinf(value)) return std::string(value > 0 ? "inf" : "-inf") + where + " is not finite";
        return "negative value " + std::to_string(value) + where;
    }

    float distance(const float* a, const float* b) const noexcept {
        float lanes[LANES] = {};
        for (std::size_t i = 0; i < stride_; i += LANES)
            for (std::size_t l = 0; l < LANES; ++l) lanes[l] += std::fabs(a[i + l] - b[i + l]);
        float sum = 0;
        for (const float lane : lanes) sum += lane;
        return sum;
    }

    // The row at which the running sum of `nearest` passes `target`, rows at
    // distance 0 (the centres so far) never drawn; `total` is positive.
    std::size_t draw(const std::vector<double>& nearest, const std::vector<double>& block_sums, double target) const {
        std::size_t block = 0, last_positive = 0;
        for (; block < blocks_; ++block) {
            if (block_sums[block] <= 0) continue;
            last_positive = block;
            if (target < block_sums[block]) break;
            target -= block_sums[block];
        }
        // Rounding can leave the target a sliver past the end: take the last row.
        if (block == blocks_) {
            block = last_positive;
            target = std::numeric_limits<double>::infinity();
        }
        const std::size_t first = block * KMEANS_BLOCK_ROWS, last = std::min(request_.rows, first + KMEANS_BLOCK_ROWS);
        std::size_t positive = first;
        for (std::size_t row = first; row < last; ++row) {
            if (nearest[row] <= 0) continue;
            positive = row;
            if (target < nearest[row]) return row;
            target -= nearest[row];
        }
        return positive;
    }

    void check_keep_going() const {
        if (!keep_going_()) throw Cancelled();
    }

    // Runs work(block, first row, last row) over every block on the workers.
    template <typename Work>
    void in_blocks(Work&& work) {
        check_keep_going();
        run_parallel(
            blocks_, threads_,
            [&](std::size_t block) {
                const std::size_t first = block * KMEANS_BLOCK_ROWS;
                work(block, first, std::min(request_.rows, first + KMEANS_BLOCK_ROWS));
            },
            keep_going_);
    }

    const KMeansRequest& request_;
    std::size_t stride_;
    std::size_t blocks_;
    unsigned threads_;
    const KeepGoing& keep_going_;
    std::vector<float> forms_;
    std::vector<float> centres_;
    std::vector<float> upper_ = std::vector<float>(request_.rows);
    std::vector<float> lower_ = std::vector<float>(request_.rows);
    std::vector<float> movement_, half_gap_;
    float fastest_move_ = 0, second_move_ = 0;
    std::size_t fastest_ = 0;
};

}  // namespace

template <typename Value>
std::optional<BadRow> emd_kmeans(const Value* histograms, const KMeansRequest& request, std::int32_t* labels,
                                 double* centres, unsigned threads, const KeepGoing& keep_going) {
    if (request.clusters < 1 || request.clusters > request.rows || request.bins < 1)
        throw std::invalid_argument("k-means needs 1 to rows clusters and at least one bin");
    if (request.rows > std::numeric_limits<std::uint32_t>::max())
        throw std::invalid_argument("k-means takes at most 2^32 - 1 rows");
    Clustering clustering(request, threads, keep_going);
    if (std::optional<BadRow> bad = clustering.load(histograms)) return bad;
    clustering.seed();
    clustering.assign(labels, true);
    for (std::size_t i = 0; i < request.iterations; ++i) {
        clustering.update(labels);
        if (clustering.assign(labels, false) == 0) break;
    }
    clustering.write_centres(centres);
    return std::nullopt;
}

template std::optional<BadRow> emd_kmeans(const float*, const KMeansRequest&, std::int32_t*, double*, unsigned,
                                          const KeepGoing&);
template std::optional<BadRow> emd_kmeans(const double*, const KMeansRequest&, std::int32_t*, double*, unsigned,
                                          const KeepGoing&);

}  // namespace tavrix::equity
