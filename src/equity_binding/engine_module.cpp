// tavrix_equity._engine: the binding of the equity engine. It converts arrays
// and lists, releases the interpreter's lock around every long call and lets
// Ctrl-C stop it; the checks with friendly messages live in the Python package.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/string.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "equity_binding/bind_parts.hpp"
#include "equity_binding/binding_support.hpp"
#include "equity_binding/equity_request.hpp"
#include "equity_engine/batch_scoring.hpp"
#include "equity_engine/equity_runs.hpp"
#include "equity_engine/parallel_runner.hpp"
#include "equity_engine/sweep_equity.hpp"
#include "equity_engine/table_view.hpp"
#include "hand_evaluator/panic.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using namespace tavrix::equity;
using namespace tavrix::binding;

namespace {

nb::object totals_to_python(const EquityTotals& totals) {
    return checked_tuple(totals.wins, totals.ties, totals.shares, totals.share_squares, totals.boards);
}

template <typename Card>
std::optional<BadRow> score_rows_unlocked(const BufferView& cards, std::uint16_t* out, unsigned threads,
                                          nb::handle cancel) {
    return without_lock(
        [&](const KeepGoing& keep_going) {
            return score_card_rows(cards.data<const Card>(), cards.shape(0), cards.shape(1), out, threads, keep_going);
        },
        cancel);
}

nb::object score_card_rows_binding(nb::handle card_array, unsigned threads, nb::handle cancel) {
    const BufferView cards(card_array, "cards");
    if (cards.ndim() != 2 || !(cards.holds<std::int64_t>() || cards.holds<std::uint8_t>()))
        throw nb::type_error("cards must be a 2-D int64 or uint8 array");
    nb::object scores = new_vector(cards.shape(0), "uint16");
    const BufferView out(scores, "scores", true);
    const std::optional<BadRow> bad = cards.holds<std::uint8_t>()
                                          ? score_rows_unlocked<std::uint8_t>(cards, out.data<std::uint16_t>(), threads, cancel)
                                          : score_rows_unlocked<std::int64_t>(cards, out.data<std::uint16_t>(), threads, cancel);
    if (bad) throw nb::value_error(("row " + std::to_string(bad->row) + ": " + bad->reason).c_str());
    return scores;
}

// The Python types of the equity functions' players and results, for the stubs.
#define PLAYERS "collections.abc.Sequence[tuple[collections.abc.Sequence[tuple[int, int]], collections.abc.Sequence[float]]]"
#define TOTALS "tuple[list[float], list[float], list[float], list[float], float]"
#define PROGRESS "collections.abc.Callable[[int, int], object] | None"
#define CANCEL "cancel: threading.Event | None = None"

}  // namespace

// Binding files of their own register their functions through a
// bind_<topic>(nb::module_&) call here, declared in bind_parts.hpp.
NB_MODULE(_engine, m) {
    m.doc() = "The tavrix equity engine (internal: use the tavrix_equity package).";
    m.attr("MIN_PLAYERS") = MIN_PLAYERS;
    m.attr("MAX_PLAYERS") = MAX_PLAYERS;
    m.attr("BOARD_CARDS") = BOARD_CARDS;
    m.attr("HAND_CARDS") = HAND_CARDS;
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
    // The one error a caller may want to tell apart from bad input.
    nb::exception<NoDeal>(m, "NoDealError", PyExc_ValueError)
        .doc() = "No deal is possible: a range is empty, or the ranges always share a card.";
    bind_sweep(m);

    m.def("score_card_rows", &score_card_rows_binding, "cards"_a, "threads"_a = 1, "cancel"_a = nb::none(),
          nb::sig("def score_card_rows(cards: numpy.typing.NDArray[numpy.int64] | numpy.typing.NDArray[numpy.uint8], "
                  "threads: int = 1, " CANCEL ") -> numpy.typing.NDArray[numpy.uint16]"),
          "Scores each row of an (n, k) int64 or uint8 array of card indices; ValueError names the first bad row.");

    m.def(
        "score_word_pairs",
        [](nb::handle key_array, nb::handle mask_array, unsigned threads, nb::handle cancel) {
            const BufferView key_view(key_array, "keys"), mask_view(mask_array, "masks");
            const std::uint64_t* keys = elements<std::uint64_t>(key_view, 1, "keys", "uint64");
            const std::uint64_t* masks = elements<std::uint64_t>(mask_view, 1, "masks", "uint64");
            if (key_view.shape(0) != mask_view.shape(0))
                throw nb::value_error(("keys and masks differ in length: " + std::to_string(key_view.shape(0)) + " and " +
                                       std::to_string(mask_view.shape(0)))
                                          .c_str());
            const std::size_t count = key_view.shape(0);
            nb::object scores = new_vector(count, "uint16");
            const BufferView out(scores, "scores", true);
            const std::optional<std::size_t> bad = without_lock(
                [&](const KeepGoing& keep_going) {
                    return score_word_pairs(keys, masks, count, out.data<std::uint16_t>(), threads, keep_going);
                },
                cancel);
            if (bad)
                throw nb::value_error(("the hand words at position " + std::to_string(*bad) +
                                       " do not describe a hand the tables cover")
                                          .c_str());
            return scores;
        },
        "keys"_a, "masks"_a, "threads"_a = 1, "cancel"_a = nb::none(),
        nb::sig("def score_word_pairs(keys: numpy.typing.NDArray[numpy.uint64], masks: numpy.typing.NDArray[numpy.uint64], "
                "threads: int = 1, " CANCEL ") -> numpy.typing.NDArray[numpy.uint16]"),
        "Scores pairs of uint64 hand words; ValueError names a pair outside the tables.");

    m.def(
        "exact_equity",
        [](nb::handle players, nb::handle board, std::uint64_t dead_mask, unsigned threads,
           nb::handle progress, const std::string& path, nb::handle cancel) {
            const EquityRequest request = equity_request(players, board, dead_mask);
            const ExactPath chosen = path == "deals" ? ExactPath::deals : path == "sweep" ? ExactPath::sweep : ExactPath::cheaper;
            if (chosen == ExactPath::cheaper && path != "cheaper")
                throw nb::value_error("path must be 'cheaper', 'deals' or 'sweep'");
            return totals_to_python(with_progress(progress, [&](const KeepGoing& keep_going) {
                return exact_equity_any_path(request, threads, keep_going, chosen);
            }, cancel));
        },
        "players"_a, "board"_a, "dead_mask"_a, "threads"_a, "progress"_a = nb::none(), "path"_a = "cheaper",
        "cancel"_a = nb::none(),
        nb::sig("def exact_equity(players: " PLAYERS ", board: collections.abc.Sequence[int], dead_mask: int, "
                "threads: int, progress: " PROGRESS " = None, path: str = 'cheaper', " CANCEL ") -> " TOTALS),
        "Exact equity, heads-up by the cheaper (or the named) of the board sweep and the deal-by-deal count: "
        "(wins, ties, shares, share_squares, boards), shares in 1/SHARE_UNITS of a board.");

    m.def(
        "monte_carlo_equity",
        [](nb::handle players, nb::handle board, std::uint64_t dead_mask,
           std::uint64_t trials, std::uint64_t seed, unsigned threads, nb::handle progress,
           nb::handle cancel) {
            const EquityRequest request = equity_request(players, board, dead_mask);
            return totals_to_python(with_progress(progress, [&](const KeepGoing& keep_going) {
                return monte_carlo_equity(request, trials, seed, threads, keep_going);
            }, cancel));
        },
        "players"_a, "board"_a, "dead_mask"_a, "trials"_a, "seed"_a, "threads"_a, "progress"_a = nb::none(),
        "cancel"_a = nb::none(),
        nb::sig("def monte_carlo_equity(players: " PLAYERS ", board: collections.abc.Sequence[int], dead_mask: int, "
                "trials: int, seed: int, threads: int, progress: " PROGRESS " = None, " CANCEL ") -> " TOTALS),
        "Monte Carlo equity over `trials` random deals and boards, reproducible from `seed`.");

    m.def(
        "monte_carlo_sweep",
        [](nb::handle players, nb::handle board, std::uint64_t dead_mask,
           std::uint64_t trials, std::uint64_t seed, unsigned threads, nb::handle progress,
           nb::handle cancel) -> nb::object {
            const EquityRequest request = equity_request(players, board, dead_mask);
            request.validate();
            if (trials == 0 || trials > MAX_TRIALS) throw nb::value_error("trials must be 1 to 2^40");
            const auto sampled = with_progress(progress, [&](const KeepGoing& keep_going) -> std::optional<SweepEquity> {
                if (!sampled_sweep_is_better(request, seed, keep_going)) return std::nullopt;
                try {
                    return sampled_sweep_equity(request, sampled_sweep_boards(request, trials), seed, threads,
                                                keep_going);
                } catch (const NoDeal&) {
                    // Sampled boards that met no pair of combos (a few boards, each
                    // blocking every deal) do not show that no deal exists: the deal
                    // sampler decides, and raises NoDealError only when none does.
                    return std::nullopt;
                }
            }, cancel);
            if (!sampled) return nb::none();
            return checked_tuple(totals_to_python(sampled->totals), sampled->std_error, sampled->boards_swept);
        },
        "players"_a, "board"_a, "dead_mask"_a, "trials"_a, "seed"_a, "threads"_a, "progress"_a = nb::none(),
        "cancel"_a = nb::none(),
        nb::sig("def monte_carlo_sweep(players: " PLAYERS ", board: collections.abc.Sequence[int], dead_mask: int, "
                "trials: int, seed: int, threads: int, progress: " PROGRESS " = None, " CANCEL ") "
                "-> tuple[" TOTALS ", list[float], int] | None"),
        "Heads-up Monte Carlo on the board sweep, when a pilot shows it gives a smaller standard error than "
        "`trials` random deals for the same work: (totals, std_error per player, boards drawn); None when "
        "sampling deals is better.");

    m.def(
        "heads_up_counts",
        [](nb::handle matchup_array, unsigned threads, nb::handle cancel) {
            const BufferView matchups(matchup_array, "matchups");
            const std::uint8_t* rows = elements<std::uint8_t>(matchups, 2, "matchups", "uint8");
            if (matchups.shape(1) != 4) throw nb::type_error("matchups must have 4 columns: a1, a2, b1, b2");
            const std::size_t count = matchups.shape(0);
            nb::object counts = new_matrix(count, 3, "uint64");
            const BufferView out(counts, "counts", true);
            without_lock(
                [&](const KeepGoing& keep_going) {
                    heads_up_counts(rows, count, out.data<std::uint64_t>(), threads, keep_going);
                    return 0;
                },
                cancel);
            return counts;
        },
        "matchups"_a, "threads"_a = 1, "cancel"_a = nb::none(),
        nb::sig("def heads_up_counts(matchups: numpy.typing.NDArray[numpy.uint8], threads: int = 1, " CANCEL ") "
                "-> numpy.typing.NDArray[numpy.uint64]"),
        "Preflop counts [wins of a, wins of b, ties] over all 1,712,304 boards for rows [a1, a2, b1, b2].");

    m.def("table_digest", &table_digest, "A hex digest of the loaded lookup tables.");
    bind_deal(m);

    bind_omaha(m);
    bind_breakdown(m);
    bind_interpreter_exit(m);

    bind_indexer(m);
    bind_clustering(m);
    bind_strength(m);
}
