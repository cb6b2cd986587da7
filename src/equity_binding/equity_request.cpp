#include "equity_binding/equity_request.hpp"

#include <string>
#include <utility>

#include "equity_binding/binding_support.hpp"

namespace tavrix::binding {
namespace {

// The items of a sequence (not text), as a new tuple.
nb::object items_of(nb::handle sequence, const char* what) {
    PyObject* object = sequence.ptr();
    if (!PySequence_Check(object) || PyUnicode_Check(object) || PyBytes_Check(object))
        throw nb::type_error((std::string(what) + " must be a sequence").c_str());
    return checked(PySequence_Tuple(object));
}

Py_ssize_t length_of(const nb::object& tuple) {
    const Py_ssize_t length = PyTuple_Size(tuple.ptr());
    if (length < 0) throw nb::python_error();
    return length;
}

// A borrowed item of a tuple made by items_of.
nb::handle item(const nb::object& tuple, Py_ssize_t index) {
    PyObject* found = PyTuple_GetItem(tuple.ptr(), index);
    if (found == nullptr) throw nb::python_error();
    return found;
}

std::uint8_t card(nb::handle value, const char* what) {
    const nb::object index = checked(PyNumber_Index(value.ptr()));
    const long number = PyLong_AsLong(index.ptr());
    if (number == -1 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw nb::python_error();
        PyErr_Clear();
    } else if (number >= 0 && number <= 255) {
        return static_cast<std::uint8_t>(number);
    }
    throw nb::type_error((std::string(what) + " must hold card indices 0 to 255").c_str());
}

double weight(nb::handle value) {
    const double number = PyFloat_AsDouble(value.ptr());
    if (number == -1.0 && PyErr_Occurred()) throw nb::python_error();
    return number;
}

equity::PlayerCombos player(nb::handle pair) {
    const nb::object parts = items_of(pair, "each player");
    if (length_of(parts) != 2) throw nb::type_error("each player must be a (combos, weights) pair");
    const nb::object combos = items_of(item(parts, 0), "combos");
    const nb::object weights = items_of(item(parts, 1), "weights");
    equity::PlayerCombos result;
    result.combos.reserve(static_cast<std::size_t>(length_of(combos)));
    for (Py_ssize_t i = 0; i < length_of(combos); ++i) {
        const nb::object cards = items_of(item(combos, i), "each combo");
        if (length_of(cards) != 2) throw nb::type_error("each combo must be a pair of cards");
        result.combos.push_back({card(item(cards, 0), "combos"), card(item(cards, 1), "combos")});
    }
    result.weights.reserve(static_cast<std::size_t>(length_of(weights)));
    for (Py_ssize_t i = 0; i < length_of(weights); ++i) result.weights.push_back(weight(item(weights, i)));
    return result;
}

}  // namespace

equity::EquityRequest equity_request(nb::handle players, nb::handle board, std::uint64_t dead_mask) {
    equity::EquityRequest request;
    request.dead_mask = dead_mask;
    const nb::object player_items = items_of(players, "players");
    request.players.reserve(static_cast<std::size_t>(length_of(player_items)));
    for (Py_ssize_t i = 0; i < length_of(player_items); ++i) request.players.push_back(player(item(player_items, i)));
    const nb::object cards = items_of(board, "board");
    for (Py_ssize_t i = 0; i < length_of(cards); ++i) request.board.push_back(card(item(cards, i), "board"));
    return request;
}

}  // namespace tavrix::binding
