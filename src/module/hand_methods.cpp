// Entry points of Hand and get_cards: bind, convert, run the hand operation,
// convert the result back. Every one runs through run_entry_point.
#include "module/hand_methods.hpp"

#include <array>

#include "boundary/binding.hpp"
#include "boundary/conversion.hpp"
#include "boundary/entry_point.hpp"
#include "module/hand_object.hpp"
#include "hand_evaluator/hand.hpp"
#include "module/hand_type.hpp"

namespace tavrix {

char KEY_WORD[] = "key";
char MASK_WORD[] = "mask";

namespace {

constexpr const char* HAND_OWNER = "Hand";
constexpr std::array<const char*, 0> NEW_PARAMETERS = {};
constexpr std::array<const char*, 2> HOLE_CARD_PARAMETERS = {"c1", "c2"};
constexpr std::array<const char*, 1> MASK_PARAMETERS = {"mask"};
constexpr std::array<const char*, 1> SUIT_PARAMETERS = {"suit"};

// A no-argument query: shared borrow of self, then the result conversion.
template <typename Query>
PyObject* query(PyObject* self, Query&& read) {
    return run_entry_point<PyObject*>(nullptr, [&] {
        SharedHand hand(self);
        return read(hand->value());
    });
}

}  // namespace

PyObject* hand_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return run_entry_point<PyObject*>(nullptr, [&] {
        std::array<PyObject*, 0> slots{};
        bind_tuple_and_dict({HAND_OWNER, "__new__", NEW_PARAMETERS}, args, kwargs, slots);
        return new_hand(type, EMPTY_HAND);
    });
}

void hand_dealloc(PyObject* self) {
    run_unprotected([&] {
        PyTypeObject* type = Py_TYPE(self);
        type->tp_free(self);
        Py_DECREF(type);  // the reference the allocator took for the instance
    });
}

PyObject* hand_from_hole_cards(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return run_entry_point<PyObject*>(nullptr, [&] {
        const auto [c1_arg, c2_arg] =
            bind_arguments(HAND_OWNER, "from_hole_cards", HOLE_CARD_PARAMETERS, args, nargsf, kwnames);
        const std::uint8_t c1 = convert_argument("c1", [&] { return to_u8(c1_arg); });
        const std::uint8_t c2 = convert_argument("c2", [&] { return to_u8(c2_arg); });
        return new_hand(from_hole_cards(c1, c2));
    });
}

PyObject* hand_from_bit_mask(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return run_entry_point<PyObject*>(nullptr, [&] {
        const auto [mask_arg] = bind_arguments(HAND_OWNER, "from_bit_mask", MASK_PARAMETERS, args, nargsf, kwnames);
        const std::uint64_t mask = convert_argument("mask", [&] { return to_u64(mask_arg); });
        return new_hand(from_bit_mask(mask));
    });
}

PyObject* hand_get_key(PyObject* self, PyObject*) {
    return query(self, [](HandValue h) { return u64_to_py(h.key); });
}

PyObject* hand_get_mask(PyObject* self, PyObject*) {
    return query(self, [](HandValue h) { return u64_to_py(h.mask); });
}

PyObject* hand_get_rank_key(PyObject* self, PyObject*) {
    return query(self, [](HandValue h) { return u64_to_py(rank_key(h)); });
}

PyObject* hand_get_counters(PyObject* self, PyObject*) {
    return query(self, [](HandValue h) { return u32_to_py(counters_word(h)); });
}

PyObject* hand_get_flush_key(PyObject* self, PyObject*) {
    return query(self, [](HandValue h) { return u64_to_py(flush_key(h)); });
}

PyObject* hand_has_flush(PyObject* self, PyObject*) {
    return query(self, [](HandValue h) { return bool_to_py(has_flush(h)); });
}

PyObject* hand_count(PyObject* self, PyObject*) {
    return query(self, [](HandValue h) { return u32_to_py(card_count(h)); });
}

PyObject* hand_suit_count(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    return run_entry_point<PyObject*>(nullptr, [&] {
        const auto [suit_arg] = bind_arguments(HAND_OWNER, "suit_count", SUIT_PARAMETERS, args, nargsf, kwnames);
        SharedHand hand(self);
        const std::uint8_t suit = convert_argument("suit", [&] { return to_u8(suit_arg); });
        return i32_to_py(suit_count(hand->value(), suit));
    });
}

PyObject* hand_get_word(PyObject* self, void* word) {
    return query(self, [word](HandValue h) { return u64_to_py(word == KEY_WORD ? h.key : h.mask); });
}

int hand_set_word(PyObject* self, PyObject* value, void* word) {
    return run_entry_point<int>(-1, [&] {
        if (value == nullptr) throw_error(PyExc_AttributeError, "can't delete attribute");
        const bool is_key = word == KEY_WORD;
        const std::uint64_t converted = convert_argument(is_key ? "key" : "mask", [&] { return to_u64(value); });
        ExclusiveHand hand(self);
        (is_key ? hand->key : hand->mask) = converted;
        return 0;
    });
}

PyObject* poker_hand_get_cards(PyObject*, PyObject*) {
    return run_entry_point<PyObject*>(nullptr, [&] {
        OwnedRef list(result_or_panic(PyList_New(CARD_COUNT)));
        for (int i = 0; i < CARD_COUNT; ++i) PyList_SET_ITEM(list.get(), i, new_hand(CARD_TABLE[i]));
        return list.release();
    });
}

}  // namespace tavrix
