// Hand strength of states and of every combo on boards: integer sums from the
// engine, turned into statistics by tavrix_equity.strength.
#include <nanobind/nanobind.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "equity_binding/bind_parts.hpp"
#include "equity_binding/binding_support.hpp"
#include "equity_engine/hand_strength.hpp"
#include "equity_engine/river_sweep.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using namespace tavrix::equity;
using namespace tavrix::binding;

namespace {

// The result arrays of `rows` rows: sums, squares and histograms (None when
// not wanted) and completions, all uint64.
struct SumArrays {
    nb::object sum, square_sum, hist, completions;

    SumArrays(std::size_t rows, unsigned bins, bool squares, bool histograms)
        : sum(new_vector(rows, "uint64")),
          square_sum(squares ? new_vector(rows, "uint64") : nb::none()),
          hist(histograms ? new_matrix(rows, bins, "uint64") : nb::none()),
          completions(new_vector(rows, "uint64")) {}

    nb::object to_tuple() const { return checked_tuple(sum, square_sum, hist, completions); }
};

template <typename Run>
nb::object with_sums(std::size_t rows, unsigned bins, bool squares, bool histograms, Run&& run) {
    if (bins == 0) throw nb::value_error("bins must be at least 1");
    SumArrays arrays(rows, bins, squares, histograms);
    const BufferView sum(arrays.sum, "sum", true), completions(arrays.completions, "completions", true);
    std::optional<BufferView> square_sum, hist;
    if (squares) square_sum.emplace(arrays.square_sum, "square_sum", true);
    if (histograms) hist.emplace(arrays.hist, "hist", true);
    const StrengthSums out{sum.data<std::uint64_t>(), squares ? square_sum->data<std::uint64_t>() : nullptr,
                           histograms ? hist->data<std::uint64_t>() : nullptr, completions.data<std::uint64_t>(), bins};
    run(out);
    return arrays.to_tuple();
}

nb::object state_strength_binding(nb::handle card_array, unsigned bins, bool squares, bool histograms,
                                  unsigned threads) {
    const BufferView cards(card_array, "cards");
    const std::uint8_t* rows = elements<std::uint8_t>(cards, 2, "cards", "uint8");
    const std::size_t count = cards.shape(0), width = cards.shape(1);
    if (width != 2 && (width < 5 || width > 7))
        throw nb::value_error(("states have 2, 5, 6 or 7 cards, not " + std::to_string(width)).c_str());
    return with_sums(count, bins, squares, histograms, [&](const StrengthSums& out) {
        const std::optional<BadRow> bad = without_lock([&](const KeepGoing& keep_going) {
            return state_strength(rows, count, width, out, threads, keep_going);
        });
        if (bad) throw nb::value_error(("row " + std::to_string(bad->row) + ": " + bad->reason).c_str());
    });
}

nb::object board_strength_binding(nb::handle board_array, unsigned bins, bool squares, bool histograms,
                                  unsigned threads) {
    const BufferView boards(board_array, "boards");
    const std::uint8_t* rows = elements<std::uint8_t>(boards, 2, "boards", "uint8");
    const std::size_t count = boards.shape(0), width = boards.shape(1);
    if (width < 3 || width > 5) throw nb::value_error(("boards have 3, 4 or 5 cards, not " + std::to_string(width)).c_str());
    return with_sums(count * board_combos(width), bins, squares, histograms, [&](const StrengthSums& out) {
        try {
            without_lock([&](const KeepGoing& keep_going) {
                board_strength(rows, count, width, out, threads, keep_going);
                return 0;
            });
        } catch (const std::invalid_argument& error) {
            throw nb::value_error(error.what());
        }
    });
}

#define SUMS "tuple[numpy.typing.NDArray[numpy.uint64], numpy.typing.NDArray[numpy.uint64] | None, " \
             "numpy.typing.NDArray[numpy.uint64] | None, numpy.typing.NDArray[numpy.uint64]]"

}  // namespace

namespace tavrix::binding {

void bind_strength(nb::module_& m) {
    m.attr("STRENGTH_UNITS") = STRENGTH_UNITS;
    m.def("state_strength", &state_strength_binding, "cards"_a, "bins"_a, "squares"_a, "histograms"_a,
          "threads"_a = 1,
          nb::sig("def state_strength(cards: numpy.typing.NDArray[numpy.uint8], bins: int, squares: bool, "
                  "histograms: bool, threads: int = 1) -> " SUMS),
          "Strength sums of (n, k) states (k = 2, 5, 6, 7) over every completion of the board: "
          "(sum, square_sum, hist, completions) of 2 * beaten + tied over the 990 opponent combos.");
    m.def("board_strength", &board_strength_binding, "boards"_a, "bins"_a, "squares"_a, "histograms"_a,
          "threads"_a = 1,
          nb::sig("def board_strength(boards: numpy.typing.NDArray[numpy.uint8], bins: int, squares: bool, "
                  "histograms: bool, threads: int = 1) -> " SUMS),
          "The same sums for every hole-card combo left by each of (m, b) boards (b = 3, 4, 5), "
          "combos in card order, m * C(52 - b, 2) rows.");
}

}  // namespace tavrix::binding
