// The hand indexer: canonical state indices of whole arrays, with the lock
// released. The Python class HandIndexer (tavrix_equity.indexing) wraps these.
#include <nanobind/nanobind.h>
#include <nanobind/stl/string.h>

#include <optional>
#include <string>

#include "equity_binding/bind_parts.hpp"
#include "equity_binding/binding_support.hpp"
#include "equity_engine/hand_index_rows.hpp"
#include "equity_engine/hand_indexer.hpp"

namespace tavrix::binding {

namespace {

using namespace nb::literals;
using equity::BadRow;
using equity::HandIndexer;

const HandIndexer& indexer_named(const std::string& round) {
    const std::optional<equity::Round> found = equity::round_named(round);
    if (!found) throw nb::value_error(("unknown round '" + round + "': use preflop, flop, turn or river").c_str());
    return HandIndexer::of(*found);
}

template <typename Card>
std::optional<BadRow> index_unlocked(const HandIndexer& indexer, const BufferView& cards, std::uint64_t* out,
                                     unsigned threads) {
    return without_lock([&](const KeepGoing& keep_going) {
        return equity::index_rows(indexer, cards.data<const Card>(), cards.shape(0), out, threads, keep_going);
    });
}

nb::object index_states(const std::string& round, nb::handle card_array, unsigned threads) {
    const HandIndexer& indexer = indexer_named(round);
    const BufferView cards(card_array, "cards");
    if (cards.ndim() != 2 || !(cards.holds<std::int64_t>() || cards.holds<std::uint8_t>()))
        throw nb::type_error("cards must be a 2-D int64 or uint8 array");
    if (cards.shape(1) != indexer.cards())
        throw nb::value_error(("a " + round + " state holds " + std::to_string(indexer.cards()) + " cards, not " +
                               std::to_string(cards.shape(1)))
                                  .c_str());
    nb::object indices = new_vector(cards.shape(0), "uint64");
    const BufferView out(indices, "indices", true);
    const std::optional<BadRow> bad =
        cards.holds<std::uint8_t>() ? index_unlocked<std::uint8_t>(indexer, cards, out.data<std::uint64_t>(), threads)
                                    : index_unlocked<std::int64_t>(indexer, cards, out.data<std::uint64_t>(), threads);
    if (bad) throw nb::value_error(("row " + std::to_string(bad->row) + ": " + bad->reason).c_str());
    return indices;
}

nb::object unindex_states(const std::string& round, nb::handle index_array, unsigned threads) {
    const HandIndexer& indexer = indexer_named(round);
    const BufferView view(index_array, "indices");
    const std::uint64_t* indices = elements<std::uint64_t>(view, 1, "indices", "uint64");
    const std::size_t count = view.shape(0);
    nb::object cards = new_matrix(count, indexer.cards(), "uint8");
    const BufferView out(cards, "cards", true);
    const std::optional<std::size_t> bad = without_lock([&](const KeepGoing& keep_going) {
        return equity::unindex_rows(indexer, indices, count, out.data<std::uint8_t>(), threads, keep_going);
    });
    if (bad)
        throw nb::value_error(("index " + std::to_string(indices[*bad]) + " at position " + std::to_string(*bad) +
                               " is outside [0, " + std::to_string(indexer.size()) + ")")
                                  .c_str());
    return cards;
}

}  // namespace

void bind_indexer(nb::module_& m) {
    m.def(
        "indexer_size", [](const std::string& round) { return indexer_named(round).size(); }, "round"_a,
        "The number of canonical states of a round; ValueError for an unknown round.");
    m.def("index_states", &index_states, "round"_a, "cards"_a, "threads"_a = 1,
          nb::sig("def index_states(round: str, cards: numpy.typing.NDArray[numpy.int64] | "
                  "numpy.typing.NDArray[numpy.uint8], threads: int = 1) -> numpy.typing.NDArray[numpy.uint64]"),
          "Canonical indices of the states in the rows of an (n, k) array; ValueError names the first bad row.");
    m.def("unindex_states", &unindex_states, "round"_a, "indices"_a, "threads"_a = 1,
          nb::sig("def unindex_states(round: str, indices: numpy.typing.NDArray[numpy.uint64], threads: int = 1) "
                  "-> numpy.typing.NDArray[numpy.uint8]"),
          "One representative state per index, as an (n, k) uint8 array; ValueError names an index out of range.");
}

}  // namespace tavrix::binding
