// The board sweep's functions of tavrix_equity._engine: per-combo sums of a
// heads-up matchup, for both players' tables and for the hand grid.
#include <nanobind/nanobind.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "equity_binding/bind_parts.hpp"
#include "equity_binding/binding_support.hpp"
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
                       std::uint64_t dead_mask, unsigned threads, nb::handle progress) {
    EquityRequest request;
    request.players = {player_of(hero, hero_weights), player_of(villain, villain_weights)};
    request.board = board;
    request.dead_mask = dead_mask;
    const SweepEquity result =
        with_progress(progress, [&](const KeepGoing& keep_going) { return sweep_equity(request, true, threads, keep_going); });
    return checked_tuple(table_of(result.hero), table_of(result.villain));
}

#define COMBOS "collections.abc.Sequence[tuple[int, int]]"
#define WEIGHTS "collections.abc.Sequence[float]"
#define ARRAY "numpy.typing.NDArray[numpy.float64]"
#define TABLE "tuple[" ARRAY ", " ARRAY ", " ARRAY "]"

}  // namespace

void bind_sweep(nb::module_& m) {
    m.def("combo_sweep", &combo_sweep, "hero"_a, "hero_weights"_a, "villain"_a, "villain_weights"_a, "board"_a,
          "dead_mask"_a, "threads"_a, "progress"_a = nb::none(),
          nb::sig("def combo_sweep(hero: " COMBOS ", hero_weights: " WEIGHTS ", villain: " COMBOS
                  ", villain_weights: " WEIGHTS ", board: collections.abc.Sequence[int], dead_mask: int, "
                  "threads: int, progress: collections.abc.Callable[[int, int], object] | None = None) "
                  "-> tuple[" TABLE ", " TABLE "]"),
          "Exact heads-up sums per combo through the board sweep: for the hero's combos, then the villain's, "
          "(wins, ties, boards) as float64 arrays of the opponent's weight beaten, tied and met over every "
          "completion of the board.");
}

}  // namespace tavrix::binding
