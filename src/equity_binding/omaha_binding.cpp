// The Omaha part of tavrix_equity._engine: scoring arrays of hole cards on
// boards, and exact and Monte Carlo equity. Checks with friendly messages live
// in tavrix_equity.omaha.
#include <nanobind/nanobind.h>
#include <nanobind/stl/optional.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/tuple.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "equity_binding/bind_parts.hpp"
#include "equity_binding/binding_support.hpp"
#include "equity_engine/omaha_equity.hpp"
#include "equity_engine/omaha_hand.hpp"
#include "equity_engine/omaha_scoring.hpp"

namespace tavrix::binding {
namespace {

using namespace nb::literals;
using equity::BadRow;
using equity::OmahaPlayer;
using equity::OmahaRequest;
using equity::OmahaTotals;
using equity::Progress;

template <typename Card>
std::optional<BadRow> score_unlocked(const BufferView& holes, const BufferView& boards, bool one_board,
                                     std::uint16_t* highs, std::uint16_t* lows, unsigned threads) {
    return without_lock([&](const KeepGoing& keep_going) {
        return equity::score_omaha_rows(holes.data<const Card>(), holes.shape(0), holes.shape(1),
                                        boards.data<const Card>(), one_board, highs, lows, threads, keep_going);
    });
}

// holes (n, k) and boards (n, 5) or (5,), both int64 or both uint8.
nb::object score_omaha_rows(nb::handle hole_array, nb::handle board_array, bool low, unsigned threads) {
    const BufferView holes(hole_array, "holes"), boards(board_array, "boards");
    const bool bytes = holes.holds<std::uint8_t>() && boards.holds<std::uint8_t>();
    if (holes.ndim() != 2 || !(bytes || (holes.holds<std::int64_t>() && boards.holds<std::int64_t>())))
        throw nb::type_error("holes and boards must be int64 or uint8 arrays of one type, holes 2-D");
    const std::size_t rows = holes.shape(0);
    const bool one_board = boards.ndim() == 1;
    if (one_board ? boards.shape(0) != equity::OMAHA_BOARD
                  : boards.ndim() != 2 || boards.shape(0) != rows || boards.shape(1) != equity::OMAHA_BOARD)
        throw nb::value_error("boards must have shape (n, 5) or (5,)");
    nb::object highs = new_vector(rows, "uint16");
    nb::object lows = low ? new_vector(rows, "uint16") : nb::none();
    const BufferView high_out(highs, "high", true);
    std::optional<BufferView> low_out;
    if (low) low_out.emplace(lows, "low", true);
    std::uint16_t* low_scores = low ? low_out->data<std::uint16_t>() : nullptr;
    const std::optional<BadRow> bad =
        bytes ? score_unlocked<std::uint8_t>(holes, boards, one_board, high_out.data<std::uint16_t>(), low_scores, threads)
              : score_unlocked<std::int64_t>(holes, boards, one_board, high_out.data<std::uint16_t>(), low_scores, threads);
    if (bad) throw nb::value_error(("row " + std::to_string(bad->row) + ": " + bad->reason).c_str());
    return low ? checked_tuple(highs, lows) : highs;
}

// A player: None for a random hand, or (hole cards as bytes, k per hand; weights).
using PlayerArg = std::optional<std::pair<nb::bytes, std::vector<double>>>;

OmahaRequest make_request(int hole_cards, bool high_low, const std::vector<PlayerArg>& players,
                          const std::vector<std::uint8_t>& board, std::uint64_t dead_mask) {
    OmahaRequest request;
    request.hole_cards = hole_cards;
    request.high_low = high_low;
    request.board = board;
    request.dead_mask = dead_mask;
    for (const PlayerArg& arg : players) {
        OmahaPlayer player;
        if (!arg) {
            player.random = true;
        } else {
            const auto* cards = static_cast<const std::uint8_t*>(arg->first.data());
            player.cards.assign(cards, cards + arg->first.size());
            player.weights = arg->second;
        }
        request.players.push_back(std::move(player));
    }
    return request;
}

nb::object totals_to_python(const OmahaTotals& t) {
    return checked_tuple(t.pot.wins, t.pot.ties, t.pot.shares, t.pot.share_squares, t.pot.boards, t.high_wins,
                         t.high_ties, t.low_wins, t.low_ties);
}

// Runs `run(keep_going, progress)` with the lock released; `callback` (None
// or progress(done, total)) is called on this thread with the lock held, and
// an exception it raises stops the run and is what the caller sees.
template <typename Run>
nb::object run_reporting(nb::handle callback, nb::handle cancel, Run&& run) {
    std::optional<nb::python_error> failure;
    Progress progress;
    if (!callback.is_none()) {
        progress = [&](std::size_t done, std::size_t total) {
            const nb::gil_scoped_acquire lock;
            try {
                callback(done, total);
                return true;
            } catch (nb::python_error& error) {
                failure.emplace(std::move(error));
                return false;
            }
        };
    }
    try {
        return totals_to_python(
            without_lock([&](const KeepGoing& keep_going) { return run(keep_going, progress); }, cancel));
    } catch (const equity::Cancelled&) {
        if (!failure) throw;
        nb::python_error error = std::move(*failure);
        failure.reset();
        throw error;
    }
}

#define OMAHA_PLAYERS "collections.abc.Sequence[tuple[bytes, collections.abc.Sequence[float]] | None]"
#define OMAHA_TOTALS \
    "tuple[list[float], list[float], list[float], list[float], float, list[float], list[float], list[float], list[float]]"
#define PROGRESS "collections.abc.Callable[[int, int], object] | None"

}  // namespace

void bind_omaha(nb::module_& m) {
    m.attr("POT_UNITS") = equity::POT_UNITS;

    m.def("score_omaha_rows", &score_omaha_rows, "holes"_a, "boards"_a, "low"_a = false, "threads"_a = 1,
          nb::sig("def score_omaha_rows(holes: numpy.typing.NDArray[numpy.int64] | numpy.typing.NDArray[numpy.uint8], "
                  "boards: numpy.typing.NDArray[numpy.int64] | numpy.typing.NDArray[numpy.uint8], low: bool = False, "
                  "threads: int = 1) -> numpy.typing.NDArray[numpy.uint16] | "
                  "tuple[numpy.typing.NDArray[numpy.uint16], numpy.typing.NDArray[numpy.uint16]]"),
          "High scores (and with low=True, low scores) of Omaha hole cards on boards; ValueError names the first bad row.");

    m.def(
        "omaha_exact_equity",
        [](int hole_cards, bool high_low, const std::vector<PlayerArg>& players, const std::vector<std::uint8_t>& board,
           std::uint64_t dead_mask, unsigned threads, nb::handle progress, nb::handle cancel) {
            const OmahaRequest request = make_request(hole_cards, high_low, players, board, dead_mask);
            return run_reporting(progress, cancel, [&](const KeepGoing& keep_going, const Progress& report) {
                return equity::omaha_exact_equity(request, threads, keep_going, report);
            });
        },
        "hole_cards"_a, "high_low"_a, "players"_a, "board"_a, "dead_mask"_a, "threads"_a, "progress"_a.none(),
        "cancel"_a = nb::none(),
        nb::sig("def omaha_exact_equity(hole_cards: int, high_low: bool, players: " OMAHA_PLAYERS
                ", board: collections.abc.Sequence[int], dead_mask: int, threads: int, progress: " PROGRESS
                ", cancel: threading.Event | None = None) -> " OMAHA_TOTALS),
        "Exact Omaha equity: (wins, ties, shares, share_squares, boards, high_wins, high_ties, low_wins, low_ties), "
        "shares in 1/POT_UNITS of a pot.");

    m.def(
        "omaha_monte_carlo_equity",
        [](int hole_cards, bool high_low, const std::vector<PlayerArg>& players, const std::vector<std::uint8_t>& board,
           std::uint64_t dead_mask, std::uint64_t trials, std::uint64_t seed, unsigned threads, nb::handle progress,
           nb::handle cancel) {
            const OmahaRequest request = make_request(hole_cards, high_low, players, board, dead_mask);
            return run_reporting(progress, cancel, [&](const KeepGoing& keep_going, const Progress& report) {
                return equity::omaha_monte_carlo_equity(request, trials, seed, threads, keep_going, report);
            });
        },
        "hole_cards"_a, "high_low"_a, "players"_a, "board"_a, "dead_mask"_a, "trials"_a, "seed"_a, "threads"_a,
        "progress"_a.none(), "cancel"_a = nb::none(),
        nb::sig("def omaha_monte_carlo_equity(hole_cards: int, high_low: bool, players: " OMAHA_PLAYERS
                ", board: collections.abc.Sequence[int], dead_mask: int, trials: int, seed: int, threads: int, "
                "progress: " PROGRESS ", cancel: threading.Event | None = None) -> " OMAHA_TOTALS),
        "Monte Carlo Omaha equity over `trials` random deals and boards, reproducible from `seed`.");
}

}  // namespace tavrix::binding
