// The Hand type: its slots, methods and attribute tables.
#include "module/hand_type.hpp"

#include "boundary/errors.hpp"
#include "module/hand_object.hpp"
#include "hand_evaluator/panic.hpp"
#include "module/hand_methods.hpp"
#include "module/method_cast.hpp"

namespace tavrix {
namespace {

constexpr int FASTCALL_KEYWORDS = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef HAND_METHODS[] = {
    {"from_hole_cards", as_cfunction(hand_from_hole_cards), FASTCALL_KEYWORDS | METH_STATIC,
     "from_hole_cards(c1, c2)\n--\n\nCreate hand from hole cards"},
    {"from_bit_mask", as_cfunction(hand_from_bit_mask), FASTCALL_KEYWORDS | METH_STATIC,
     "from_bit_mask(mask)\n--\n\nconstruct a Hand object from board mask"},
    {"get_key", hand_get_key, METH_NOARGS, "get_key($self)\n--\n\nReturn first 64 bits"},
    {"get_mask", hand_get_mask, METH_NOARGS, "get_mask($self)\n--\n\nReturn last 64 bits"},
    {"get_rank_key", hand_get_rank_key, METH_NOARGS, "get_rank_key($self)\n--\n\nget rank key of card for lookup table"},
    {"get_counters", hand_get_counters, METH_NOARGS, "get_counters($self)\n--\n\nReturn counter bits"},
    {"get_flush_key", hand_get_flush_key, METH_NOARGS,
     "get_flush_key($self)\n--\n\nGet flush key of card for lookup table\n\nReturns 0 if there is no flush"},
    {"has_flush", hand_has_flush, METH_NOARGS, "has_flush($self)\n--\n\n"},
    {"count", hand_count, METH_NOARGS, "count($self)\n--\n\n"},
    {"suit_count", as_cfunction(hand_suit_count), FASTCALL_KEYWORDS,
     "suit_count($self, suit)\n--\n\nGet the number of cards for a suit"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef HAND_GETSET[] = {
    {"key", hand_get_word, hand_set_word, "", KEY_WORD},
    {"mask", hand_get_word, hand_set_word, "", MASK_WORD},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

constexpr const char HAND_DOC[] =
    "Hand()\n--\n\n"
    "64 bit representation of poker hand for use in evaluator\n\n"
    "Bits 0-31: key to non flush lookup table\n"
    "Bits 32-35: card counter\n"
    "Bits 48-63: suit counter\n"
    "Bits 64-128: Bit mask for all cards (suits in 16 bit groups)";

PyType_Slot HAND_SLOTS[] = {
    {Py_tp_doc, const_cast<char*>(HAND_DOC)},
    {Py_tp_new, reinterpret_cast<void*>(hand_new)},
    {Py_tp_methods, HAND_METHODS},
    {Py_tp_getset, HAND_GETSET},
    {Py_tp_base, &PyBaseObject_Type},
    {Py_tp_dealloc, reinterpret_cast<void*>(hand_dealloc)},
    {0, nullptr},
};

// Not a base type (Hand cannot be subclassed), not collected, not immutable.
PyType_Spec HAND_SPEC = {
    "builtins.Hand", static_cast<int>(sizeof(HandObject)), 0, Py_TPFLAGS_DEFAULT, HAND_SLOTS,
};

// Owned for the life of the process.
PyObject* hand_type_object = nullptr;

// Builds the type, or returns null with the build's error pending.
PyObject* build_hand_type() {
    if (hand_type_object != nullptr) return hand_type_object;
    PyObject* built = PyType_FromSpec(&HAND_SPEC);
    if (built == nullptr) return nullptr;
    if (hand_type_object == nullptr)
        hand_type_object = built;
    else
        Py_DECREF(built);
    return hand_type_object;
}

}  // namespace

PyObject* try_hand_type() {
    if (PyObject* type = build_hand_type()) return type;
    OwnedRef build_error(PyErr_GetRaisedException());
    PyError error = PyError::built(PyExc_RuntimeError, "An error occurred while initializing class Hand");
    error.set_cause(std::move(build_error));
    throw error;
}

PyObject* hand_type() {
    if (PyObject* type = build_hand_type()) return type;
    PyErr_PrintEx(0);
    panic("failed to create type object for Hand");
}

PyObject* new_hand(PyTypeObject* type, HandValue value) {
    allocfunc allocate = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
    PyObject* obj = allocate(type, 0);
    if (obj == nullptr) throw_fetched();
    auto* hand = reinterpret_cast<HandObject*>(obj);
    hand->key = value.key;
    hand->mask = value.mask;
    hand->borrow_flag = 0;
    return obj;
}

}  // namespace tavrix
