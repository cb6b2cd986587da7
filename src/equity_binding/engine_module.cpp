// tavrix_equity._engine: the binding of the equity engine. It converts arrays
// and lists, releases the interpreter's lock around every long call and lets
// Ctrl-C stop it; the checks with friendly messages live in the Python package.
#include <nanobind/nanobind.h>
#include <nanobind/ndarray.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "equity_engine/batch_scoring.hpp"
#include "equity_engine/equity_runs.hpp"
#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/table_view.hpp"
#include "hand_evaluator/panic.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using namespace tavrix::equity;

namespace {

template <typename T>
using Vector = nb::ndarray<nb::numpy, T, nb::ndim<1>>;
template <typename T>
using InVector = nb::ndarray<const T, nb::ndim<1>, nb::c_contig, nb::device::cpu>;

// A heap buffer of `count` elements owned by a capsule, which a numpy array
// can then hold on to: freed with the array, or at once on an error path.
template <typename T>
std::pair<nb::capsule, T*> owned_buffer(std::size_t count) {
    auto buffer = std::make_unique<T[]>(count ? count : 1);
    nb::capsule owner(buffer.get(), [](void* p) noexcept { delete[] static_cast<T*>(p); });
    return {std::move(owner), buffer.release()};
}

template <typename T>
std::pair<Vector<T>, T*> new_vector(std::size_t count) {
    auto [owner, data] = owned_buffer<T>(count);
    return {Vector<T>(data, {count}, owner), data};
}

// Runs `work(keep_going)` with the lock released. keep_going takes the lock
// for a moment to run pending signal handlers; if one raised (Ctrl-C), the
// engine stops and that exception is what the caller sees.
template <typename Work>
auto without_lock(Work&& work) {
    bool interrupted = false;
    const KeepGoing keep_going = [&interrupted] {
        const nb::gil_scoped_acquire lock;
        if (PyErr_CheckSignals() != 0) {
            interrupted = true;
            return false;
        }
        return true;
    };
    try {
        const nb::gil_scoped_release unlocked;
        return work(keep_going);
    } catch (const Cancelled&) {
        if (interrupted) throw nb::python_error();
        throw;
    }
}

EquityRequest make_request(const std::vector<std::pair<std::vector<std::pair<std::uint8_t, std::uint8_t>>, std::vector<double>>>& players,
                           const std::vector<std::uint8_t>& board, std::uint64_t dead_mask) {
    EquityRequest request;
    request.board = board;
    request.dead_mask = dead_mask;
    for (const auto& [combos, weights] : players) {
        PlayerCombos player;
        player.weights = weights;
        player.combos.reserve(combos.size());
        for (const auto& [first, second] : combos) player.combos.push_back({first, second});
        request.players.push_back(std::move(player));
    }
    return request;
}

using TotalsTuple = std::tuple<std::vector<double>, std::vector<double>, std::vector<double>, std::vector<double>, double>;

TotalsTuple totals_to_python(const EquityTotals& totals) {
    return {totals.wins, totals.ties, totals.shares, totals.share_squares, totals.boards};
}

// score_card_rows for one element type of the (n, k) card array.
template <typename Card>
void bind_card_rows(nb::module_& m) {
    m.def(
        "score_card_rows",
        [](nb::ndarray<const Card, nb::ndim<2>, nb::c_contig, nb::device::cpu> cards, unsigned threads) {
            const std::size_t rows = cards.shape(0), width = cards.shape(1);
            auto [scores, out] = new_vector<std::uint16_t>(rows);
            const std::optional<BadRow> bad = without_lock([&](const KeepGoing& keep_going) {
                return score_card_rows(cards.data(), rows, width, out, threads, keep_going);
            });
            if (bad) throw nb::value_error(("row " + std::to_string(bad->row) + ": " + bad->reason).c_str());
            return scores;
        },
        "cards"_a, "threads"_a = 1, "Scores each row of an (n, k) int64 or uint8 array of card indices; ValueError names the first bad row.");
}

using PlayersArg = std::vector<std::pair<std::vector<std::pair<std::uint8_t, std::uint8_t>>, std::vector<double>>>;

}  // namespace

NB_MODULE(_engine, m) {
    m.doc() = "The tavrix equity engine (internal: use the tavrix_equity package).";
    m.attr("SHARE_UNITS") = SHARE_UNITS;
    m.attr("TRIALS_PER_BLOCK") = TRIALS_PER_BLOCK;
    m.attr("MAX_TRIALS") = MAX_TRIALS;
    m.attr("MAX_EXACT_DEALS") = MAX_EXACT_DEALS;

    // A panic of the core (tables missing or damaged) reaches Python as an
    // ordinary RuntimeError carrying its message.
    nb::register_exception_translator([](const std::exception_ptr& p, void*) {
        try {
            std::rethrow_exception(p);
        } catch (const tavrix::Panic& panic) {
            PyErr_SetString(PyExc_RuntimeError, panic.message().c_str());
        }
    });

    bind_card_rows<std::int64_t>(m);
    bind_card_rows<std::uint8_t>(m);

    m.def(
        "score_word_pairs",
        [](InVector<std::uint64_t> keys, InVector<std::uint64_t> masks, unsigned threads) {
            if (keys.shape(0) != masks.shape(0))
                throw nb::value_error(("keys and masks differ in length: " + std::to_string(keys.shape(0)) + " and " +
                                       std::to_string(masks.shape(0)))
                                          .c_str());
            const std::size_t count = keys.shape(0);
            auto [scores, out] = new_vector<std::uint16_t>(count);
            const std::optional<std::size_t> bad = without_lock([&](const KeepGoing& keep_going) {
                return score_word_pairs(keys.data(), masks.data(), count, out, threads, keep_going);
            });
            if (bad)
                throw nb::value_error(("the hand words at position " + std::to_string(*bad) +
                                       " do not describe a hand the tables cover")
                                          .c_str());
            return scores;
        },
        "keys"_a, "masks"_a, "threads"_a = 1, "Scores pairs of uint64 hand words; ValueError names a pair outside the tables.");

    m.def(
        "exact_equity",
        [](const PlayersArg& players, const std::vector<std::uint8_t>& board, std::uint64_t dead_mask, unsigned threads) {
            const EquityRequest request = make_request(players, board, dead_mask);
            return totals_to_python(
                without_lock([&](const KeepGoing& keep_going) { return exact_equity(request, threads, keep_going); }));
        },
        "players"_a, "board"_a, "dead_mask"_a, "threads"_a,
        "Exact equity: (wins, ties, shares, share_squares, boards), shares in 1/SHARE_UNITS of a board.");

    m.def(
        "monte_carlo_equity",
        [](const PlayersArg& players, const std::vector<std::uint8_t>& board, std::uint64_t dead_mask,
           std::uint64_t trials, std::uint64_t seed, unsigned threads) {
            const EquityRequest request = make_request(players, board, dead_mask);
            return totals_to_python(without_lock([&](const KeepGoing& keep_going) {
                return monte_carlo_equity(request, trials, seed, threads, keep_going);
            }));
        },
        "players"_a, "board"_a, "dead_mask"_a, "trials"_a, "seed"_a, "threads"_a,
        "Monte Carlo equity over `trials` random deals and boards, reproducible from `seed`.");

    m.def(
        "heads_up_counts",
        [](nb::ndarray<const std::uint8_t, nb::ndim<2>, nb::shape<-1, 4>, nb::c_contig, nb::device::cpu> matchups,
           unsigned threads) {
            const std::size_t count = matchups.shape(0);
            auto [owner, data] = owned_buffer<std::uint64_t>(3 * count);
            without_lock([&](const KeepGoing& keep_going) {
                heads_up_counts(matchups.data(), count, data, threads, keep_going);
                return 0;
            });
            return nb::ndarray<nb::numpy, std::uint64_t, nb::ndim<2>>(data, {count, 3}, owner);
        },
        "matchups"_a, "threads"_a = 1,
        "Preflop counts [wins of a, wins of b, ties] over all 1,712,304 boards for rows [a1, a2, b1, b2].");

    m.def("table_digest", &table_digest, "A hex digest of the loaded lookup tables.");
}
