// Monte Carlo on the board sweep: boards drawn at random, each swept for every
// pair of combos. Boards come in fixed blocks, block b drawn from the stream
// seeded by (seed, b); the integer sums are order-free and the per-block
// moments are added in block order, so a seed gives one result for any
// thread count.
//
// The estimate is a ratio, sum over boards of the hero's pot share (2 wins +
// ties, weighted) over twice the weight met; its standard error comes from
// the spread of the per-board terms X_b - R Y_b (the delta method), which is
// what repeated seeds scatter by.
#include <algorithm>
#include <array>
#include <cmath>
#include <stdexcept>

#include "equity_engine/board_completions.hpp"
#include "equity_engine/board_sweep.hpp"
#include "equity_engine/compensated_sum.hpp"
#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/random.hpp"
#include "equity_engine/sweep_equity.hpp"

namespace tavrix::equity {
namespace {

constexpr std::uint64_t BOARDS_PER_BLOCK = 64;
// Cost of one deal-by-deal trial in the units of sweep_path_cost (table
// reads): two scores, the draws and the rejections.
constexpr double DEAL_TRIAL_COST = 15.0;
constexpr std::uint64_t PILOT_DEALS = 4096, PILOT_BOARDS = 32;
constexpr std::uint64_t PILOT_STREAM = 0x5EED0F9A11E7ULL;

struct Moments {
    double x = 0, y = 0, xx = 0, yy = 0, xy = 0;
    std::uint64_t n = 0;
};

struct Weights {
    std::vector<double> hero, villain;  // per distinct live combo
    SweepSlots slots;
    std::vector<std::uint64_t> villain_scaled;  // fixed point, 2^-40 of a unit
};

// The sweep counts in uint64 here: weights in units of 2^-40 (sampling error
// dwarfs that rounding), at most 2^40 * 1,081 per board and side.
constexpr double WEIGHT_UNIT = 0x1p40;

Weights weights_of(const EquityRequest& request) {
    Weights w;
    std::vector<std::uint32_t> slot(CARD_COUNT * CARD_COUNT, 0xFFFFFFFF);
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;
    double top = 0;
    for (const PlayerCombos& player : request.players)
        for (const double x : player.weights) top = std::max(top, x);
    for (int p = 0; p < 2; ++p) {
        const PlayerCombos& player = request.players[p];
        for (std::size_t i = 0; i < player.combos.size(); ++i) {
            const Combo c = player.combos[i];
            if (c.mask() & fixed) continue;
            std::uint32_t& s = slot[std::max(c.first, c.second) * CARD_COUNT + std::min(c.first, c.second)];
            if (s == 0xFFFFFFFF) {
                s = static_cast<std::uint32_t>(w.slots.size());
                w.slots.add(c);
                w.hero.push_back(0);
                w.villain.push_back(0);
            }
            (p == 0 ? w.hero : w.villain)[s] += player.weights[i] / top;
        }
    }
    for (const double v : w.villain) w.villain_scaled.push_back(static_cast<std::uint64_t>(std::llround(v * WEIGHT_UNIT)));
    return w;
}

struct SampleWorker {
    BoardSweep<std::uint64_t, 1> sweep;
    SlotSums<std::uint64_t> board;
    SlotSums<WideSum> sums;

    SampleWorker(const Weights& w, TableView tables)
        : sweep(w.slots, {w.villain_scaled.data()}, tables), board(w.slots.size()), sums(w.slots.size()) {}
};

struct Sampled {
    SlotSums<WideSum> sums;
    Moments moments;
};

Sampled sample(const EquityRequest& request, const Weights& w, std::uint64_t boards, std::uint64_t seed,
               unsigned threads, const KeepGoing& keep_going) {
    const TableView tables = table_view();
    std::vector<std::uint8_t> free_cards;
    const std::uint64_t fixed = request.board_mask() | request.dead_mask;
    for (std::uint8_t c = 0; c < CARD_COUNT; ++c)
        if (!((fixed >> c) & 1)) free_cards.push_back(c);
    const auto to_deal = static_cast<std::uint32_t>(BOARD_CARDS - request.board.size());
    const HandValue base = request.board_words();
    const std::uint64_t blocks = (boards + BOARDS_PER_BLOCK - 1) / BOARDS_PER_BLOCK;
    std::vector<Moments> moments(blocks);
    WorkerPool<SampleWorker> pool([&] { return std::make_unique<SampleWorker>(w, tables); });
    run_parallel(
        blocks, threads,
        [&](std::size_t block) {
            SampleWorker* worker = pool.take();
            BlockRandom random(seed, block);
            std::vector<std::uint8_t> deck = free_cards;
            const auto n = static_cast<std::uint32_t>(deck.size());
            const std::uint64_t count = std::min(BOARDS_PER_BLOCK, boards - block * BOARDS_PER_BLOCK);
            Moments& m = moments[block];
            for (std::uint64_t b = 0; b < count; ++b) {
                HandValue board = base;
                for (std::uint32_t k = 0; k < to_deal; ++k) {
                    std::swap(deck[k], deck[k + random.below(n - k)]);
                    board = combine(board, CARD_TABLE[deck[k]]);
                }
                worker->sweep.sweep(board, 1, {&worker->board});
                double x = 0, y = 0;
                for (std::size_t s = 0; s < w.slots.size(); ++s) {
                    if (w.hero[s] != 0) {
                        x += w.hero[s] * static_cast<double>(2 * worker->board.wins[s] + worker->board.ties[s]);
                        y += w.hero[s] * static_cast<double>(2 * worker->board.met[s]);
                    }
                    worker->sums.wins[s] += worker->board.wins[s];
                    worker->sums.ties[s] += worker->board.ties[s];
                    worker->sums.met[s] += worker->board.met[s];
                    worker->board.wins[s] = worker->board.ties[s] = worker->board.met[s] = 0;
                }
                m.x += x;
                m.y += y;
                m.xx += x * x;
                m.yy += y * y;
                m.xy += x * y;
                ++m.n;
            }
            const bool fault = worker->sweep.fault;
            pool.give(worker);
            if (fault) throw TableFault();
        },
        keep_going);
    Sampled result{SlotSums<WideSum>(w.slots.size()), {}};
    for (const auto& worker : pool.all()) result.sums.add(worker->sums);
    for (const Moments& m : moments) {
        result.moments.x += m.x;
        result.moments.y += m.y;
        result.moments.xx += m.xx;
        result.moments.yy += m.yy;
        result.moments.xy += m.xy;
        result.moments.n += m.n;
    }
    return result;
}

// The standard error of the ratio sum(x) / sum(y) by the delta method; NaN for one board.
double ratio_error(const Moments& m) {
    if (m.n < 2 || m.y <= 0) return std::nan("");
    const double r = m.x / m.y, n = static_cast<double>(m.n);
    const double spread = std::max(0.0, m.xx - 2 * r * m.xy + r * r * m.yy) / (n - 1);
    const double mean_y = m.y / n;
    return std::sqrt(spread / n) / mean_y;
}

double per_trial_variance(const EquityTotals& totals, std::size_t player) {
    // Shares are in 1/SHARE_UNITS of a board: the variance of one trial's share.
    const double n = totals.boards, units = static_cast<double>(SHARE_UNITS);
    const double mean = totals.shares[player] / units / n;
    return std::max(0.0, totals.share_squares[player] / (units * units) / n - mean * mean);
}

}  // namespace

SweepEquity sampled_sweep_equity(const EquityRequest& request, std::uint64_t trials, std::uint64_t seed,
                                 unsigned threads, const KeepGoing& keep_going) {
    request.validate();
    if (request.players.size() != 2) throw std::invalid_argument("the board sweep is for two players");
    if (trials == 0) throw std::invalid_argument("trials must be at least 1");
    const Weights w = weights_of(request);
    const Sampled s = sample(request, w, trials, seed, threads, keep_going);
    if (s.moments.y == 0) throw NoDeal();
    SweepEquity result;
    result.boards_swept = trials;
    CompensatedSum wins[2], ties, halves[2], boards;
    for (std::size_t slot = 0; slot < w.slots.size(); ++slot) {
        if (w.hero[slot] == 0) continue;
        const double h = w.hero[slot] / WEIGHT_UNIT;
        const WideSum lost = s.sums.met[slot] - s.sums.wins[slot] - s.sums.ties[slot];
        wins[0].add(h * static_cast<double>(s.sums.wins[slot]));
        wins[1].add(h * static_cast<double>(lost));
        ties.add(h * static_cast<double>(s.sums.ties[slot]));
        halves[0].add(h * static_cast<double>(2 * s.sums.wins[slot] + s.sums.ties[slot]));
        halves[1].add(h * static_cast<double>(2 * lost + s.sums.ties[slot]));
        boards.add(h * static_cast<double>(s.sums.met[slot]));
    }
    result.totals = EquityTotals(2);
    for (int p = 0; p < 2; ++p) {
        result.totals.wins[p] = wins[p].value();
        result.totals.ties[p] = ties.value();
        result.totals.shares[p] = halves[p].value() * static_cast<double>(SHARE_UNITS / 2);
    }
    result.totals.boards = boards.value();
    const double error = ratio_error(s.moments);
    result.std_error = {error, error};
    return result;
}

bool sampled_sweep_is_better(const EquityRequest& request, std::uint64_t seed, const KeepGoing& keep_going) {
    if (request.players.size() != 2) return false;
    for (const PlayerCombos& player : request.players)
        if (player.combos.size() < 2) return false;
    // A pilot of each on streams of their own: the variance each gives per
    // unit of work decides.
    const EquityTotals deals = monte_carlo_equity(request, PILOT_DEALS, seed ^ PILOT_STREAM, 1, keep_going);
    const Weights w = weights_of(request);
    const Sampled boards = sample(request, w, PILOT_BOARDS, seed ^ PILOT_STREAM, 1, keep_going);
    const double board_error = ratio_error(boards.moments);
    if (!(board_error >= 0)) return false;
    const double board_variance = board_error * board_error * static_cast<double>(PILOT_BOARDS);
    const double board_cost = 4.0 * static_cast<double>(w.slots.size()) + 600.0;
    return board_variance * board_cost < per_trial_variance(deals, 0) * DEAL_TRIAL_COST;
}

std::uint64_t sampled_sweep_boards(const EquityRequest& request, std::uint64_t trials) {
    const Weights w = weights_of(request);
    const double board_cost = 4.0 * static_cast<double>(w.slots.size()) + 600.0;
    return std::max<std::uint64_t>(2, static_cast<std::uint64_t>(static_cast<double>(trials) * DEAL_TRIAL_COST / board_cost));
}

}  // namespace tavrix::equity
