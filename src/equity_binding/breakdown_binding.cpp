// Binding of the range reading tools: made-hand and draw classes of combos on
// a board, and the score categories players end with at showdown.
#include <nanobind/nanobind.h>
#include <nanobind/stl/pair.h>
#include <nanobind/stl/vector.h>

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "equity_binding/bind_parts.hpp"
#include "equity_binding/binding_support.hpp"
#include "equity_engine/range_breakdown.hpp"
#include "equity_engine/showdown_categories.hpp"

namespace nb = nanobind;
using namespace nb::literals;

namespace tavrix::binding {
namespace {

using PlayerList = std::vector<std::pair<std::vector<std::pair<std::uint8_t, std::uint8_t>>, std::vector<double>>>;

equity::EquityRequest category_request(const PlayerList& players, const std::vector<std::uint8_t>& board,
                                       std::uint64_t dead_mask) {
    equity::EquityRequest request;
    request.board = board;
    request.dead_mask = dead_mask;
    for (const auto& [combos, weights] : players) {
        equity::PlayerCombos player;
        player.weights = weights;
        for (const auto& [first, second] : combos) player.combos.push_back({first, second});
        request.players.push_back(std::move(player));
    }
    return request;
}

nb::object category_matrix(const std::vector<double>& values, std::size_t players) {
    nb::object matrix = new_matrix(players, equity::CATEGORIES, "float64");
    const BufferView out(matrix, "categories", true);
    std::memcpy(out.data<double>(), values.data(), values.size() * sizeof(double));
    return matrix;
}

}  // namespace

void bind_breakdown(nb::module_& m) {
    m.attr("MADE_CLASSES") = static_cast<int>(equity::MADE_CLASSES);
    m.attr("DRAW_CLASSES") = equity::DRAW_CLASSES;
    m.def(
        "classify_combos",
        [](nb::handle board_array, nb::handle combo_array) {
            const BufferView board(board_array, "board");
            const BufferView combos(combo_array, "combos");
            const std::uint8_t* board_cards = elements<std::uint8_t>(board, 1, "board", "uint8");
            const std::uint8_t* pairs = elements<std::uint8_t>(combos, 2, "combos", "uint8");
            if (combos.shape(1) != 2) throw nb::type_error("combos must have 2 columns");
            const std::size_t count = combos.shape(0);
            nb::object made = new_vector(count, "uint8");
            nb::object draws = new_vector(count, "uint8");
            const BufferView made_out(made, "made", true), draws_out(draws, "draws", true);
            equity::classify_combos(board_cards, board.shape(0), pairs, count, made_out.data<std::uint8_t>(),
                                    draws_out.data<std::uint8_t>());
            return checked_tuple(made, draws);
        },
        "board"_a, "combos"_a,
        nb::sig("def classify_combos(board: numpy.typing.NDArray[numpy.uint8], combos: numpy.typing.NDArray[numpy.uint8]) "
                "-> tuple[numpy.typing.NDArray[numpy.uint8], numpy.typing.NDArray[numpy.uint8]]"),
        "Made-hand class index and draw bits of each combo on a board of 3 to 5 cards.");

    m.def(
        "showdown_categories",
        [](const PlayerList& players, const std::vector<std::uint8_t>& board, std::uint64_t dead_mask,
           std::uint64_t trials, std::uint64_t seed, unsigned threads) {
            const equity::EquityRequest request = category_request(players, board, dead_mask);
            const equity::CategoryTotals totals = without_lock([&](const KeepGoing& keep_going) {
                return trials == 0 ? equity::exact_showdown_categories(request, threads, keep_going)
                                   : equity::sampled_showdown_categories(request, trials, seed, threads, keep_going);
            });
            return checked_tuple(category_matrix(totals.final_hand, players.size()),
                                 category_matrix(totals.winning, players.size()), totals.boards);
        },
        "players"_a, "board"_a, "dead_mask"_a, "trials"_a, "seed"_a, "threads"_a,
        nb::sig("def showdown_categories(players: collections.abc.Sequence[tuple[collections.abc.Sequence[tuple[int, int]], "
                "collections.abc.Sequence[float]]], board: collections.abc.Sequence[int], dead_mask: int, trials: int, "
                "seed: int, threads: int) -> tuple[numpy.typing.NDArray[numpy.float64], "
                "numpy.typing.NDArray[numpy.float64], float]"),
        "Deal-weighted board counts per player and category: (final hands, winning hands, boards); trials=0 is exact.");
}

}  // namespace tavrix::binding
