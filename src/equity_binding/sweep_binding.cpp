// The board sweep's functions of tavrix_equity._engine: per-combo sums of a
// heads-up matchup, for both players' tables and for the hand grid.
#include <nanobind/nanobind.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "equity_binding/bind_parts.hpp"
#include "equity_binding/binding_support.hpp"
#include "equity_engine/class_sweep.hpp"
#include "equity_engine/sweep_equity.hpp"

namespace nb = nanobind;
using namespace nb::literals;
using namespace tavrix::equity;

namespace tavrix::binding {
namespace {

using CombosArg = std::vector<std::pair<std::uint8_t, std::uint8_t>>;

PlayerCombos player_of(const CombosArg& combos, const std::vector<double>& weights) {
    PlayerCombos player;
    player.weights = weights;
    player.combos.reserve(combos.size());
    for (const auto& [first, second] : combos) player.combos.push_back({first, second});
    return player;
}

nb::object float_array(const std::vector<double>& values) {
    nb::object array = new_vector(values.size(), "float64");
    const BufferView out(array, "sums", true);
    if (!values.empty()) std::memcpy(out.data<double>(), values.data(), values.size() * sizeof(double));
    return array;
}

nb::object table_of(const ComboSums& sums) {
    return checked_tuple(float_array(sums.wins), float_array(sums.ties), float_array(sums.boards));
}

nb::object combo_sweep(const CombosArg& hero, const std::vector<double>& hero_weights, const CombosArg& villain,
                       const std::vector<double>& villain_weights, const std::vector<std::uint8_t>& board,
                       std::uint64_t dead_mask, unsigned threads, nb::handle progress, bool villain_table,
                       nb::handle cancel) {
    EquityRequest request;
    request.players = {player_of(hero, hero_weights), player_of(villain, villain_weights)};
    request.board = board;
    request.dead_mask = dead_mask;
    const SweepEquity result =
        with_progress(progress, [&](const KeepGoing& keep_going) {
            return sweep_equity(request, villain_table, threads, keep_going);
        }, cancel);
    return checked_tuple(table_of(result.hero), table_of(result.villain));
}

nb::object class_sweep_binding(nb::handle combo_array, nb::handle class_array, std::size_t classes, std::size_t first,
                               std::size_t last, unsigned threads, nb::handle progress,
                               nb::handle cancel) {
    const BufferView combo_view(combo_array, "combos"), class_view(class_array, "class_of");
    const std::uint8_t* cards = elements<std::uint8_t>(combo_view, 2, "combos", "uint8");
    const std::uint16_t* class_of = elements<std::uint16_t>(class_view, 1, "class_of", "uint16");
    if (combo_view.shape(1) != 2) throw nb::type_error("combos must have 2 columns");
    if (class_view.shape(0) != combo_view.shape(0)) throw nb::value_error("combos and class_of differ in length");
    std::vector<Combo> combos(combo_view.shape(0));
    for (std::size_t i = 0; i < combos.size(); ++i) combos[i] = {cards[2 * i], cards[2 * i + 1]};
    const std::vector<std::uint16_t> classes_of(class_of, class_of + combos.size());
    if (classes == 0 || classes > 4096) throw nb::value_error("classes must be 1 to 4096");
    nb::object sums = new_matrix(classes, classes, "uint64");
    const BufferView out(sums, "sums", true);
    std::fill(out.data<std::uint64_t>(), out.data<std::uint64_t>() + classes * classes, 0);
    const std::uint64_t pairs = with_progress(progress, [&](const KeepGoing& keep_going) {
        return class_sweep(combos, classes_of, classes, first, last, out.data<std::uint64_t>(), threads, keep_going);
    }, cancel);
    return checked_tuple(sums, pairs);
}

#define COMBOS "collections.abc.Sequence[tuple[int, int]]"
#define WEIGHTS "collections.abc.Sequence[float]"
#define ARRAY "numpy.typing.NDArray[numpy.float64]"
#define TABLE "tuple[" ARRAY ", " ARRAY ", " ARRAY "]"

}  // namespace

void bind_sweep(nb::module_& m) {
    m.def("combo_sweep", &combo_sweep, "hero"_a, "hero_weights"_a, "villain"_a, "villain_weights"_a, "board"_a,
          "dead_mask"_a, "threads"_a, "progress"_a = nb::none(), "villain_table"_a = true,
          "cancel"_a = nb::none(),
          nb::sig("def combo_sweep(hero: " COMBOS ", hero_weights: " WEIGHTS ", villain: " COMBOS
                  ", villain_weights: " WEIGHTS ", board: collections.abc.Sequence[int], dead_mask: int, "
                  "threads: int, progress: collections.abc.Callable[[int, int], object] | None = None, "
                  "villain_table: bool = True, cancel: threading.Event | None = None) "
                  "-> tuple[" TABLE ", " TABLE "]"),
          "Exact heads-up sums per combo through the board sweep: for the hero's combos, then the villain's, "
          "(wins, ties, boards) as float64 arrays of the opponent's weight beaten, tied and met over every "
          "completion of the board. Without villain_table, the villain's arrays are empty.");

    m.def("class_sweep_items", &class_sweep_items, "The number of work items of a preflop class sweep.");
    m.def("class_sweep", &class_sweep_binding, "combos"_a, "class_of"_a, "classes"_a, "first"_a, "last"_a,
          "threads"_a = 1, "progress"_a = nb::none(), "cancel"_a = nb::none(),
          nb::sig("def class_sweep(combos: numpy.typing.NDArray[numpy.uint8], class_of: numpy.typing.NDArray[numpy.uint16], "
                  "classes: int, first: int, last: int, threads: int = 1, "
                  "progress: collections.abc.Callable[[int, int], object] | None = None, "
                  "cancel: threading.Event | None = None) -> tuple[numpy.typing.NDArray[numpy.uint64], int]"),
          "Preflop class-against-class sums of work items [first, last): a (classes, classes) uint64 array of "
          "2 * wins + ties of class i's combos against class j's over every board of those items, and the "
          "ordered pairs of combos counted (the sum of the array).");
}

}  // namespace tavrix::binding
