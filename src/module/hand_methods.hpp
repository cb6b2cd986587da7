// Entry points of the class Hand and of the submodule poker_hand.
#pragma once

#include <Python.h>

namespace tavrix {

PyObject* hand_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
void hand_dealloc(PyObject* self);

PyObject* hand_from_hole_cards(PyObject* unused, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* hand_from_bit_mask(PyObject* unused, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* hand_get_key(PyObject* self, PyObject* unused);
PyObject* hand_get_mask(PyObject* self, PyObject* unused);
PyObject* hand_get_rank_key(PyObject* self, PyObject* unused);
PyObject* hand_get_counters(PyObject* self, PyObject* unused);
PyObject* hand_get_flush_key(PyObject* self, PyObject* unused);
PyObject* hand_has_flush(PyObject* self, PyObject* unused);
PyObject* hand_count(PyObject* self, PyObject* unused);
PyObject* hand_suit_count(PyObject* self, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

// Getter and setter of the attributes key and mask; the closure names the word.
PyObject* hand_get_word(PyObject* self, void* word);
int hand_set_word(PyObject* self, PyObject* value, void* word);
extern char KEY_WORD[];
extern char MASK_WORD[];

PyObject* poker_hand_get_cards(PyObject* module, PyObject* unused);

}  // namespace tavrix
