// The Python class Hand: a heap type built once per process from its PyType_Spec.
#pragma once

#include <Python.h>

#include "hand_evaluator/hand_value.hpp"

namespace tavrix {

// Builds the type on first need; a failed build throws RuntimeError "An error
// occurred while initializing class Hand" caused by the build's error.
PyObject* try_hand_type();

// The same, for callers that cannot report an error: a failed build is printed
// and becomes a panic.
PyObject* hand_type();

// A new instance of `type` holding `value`, or throws the allocation's error.
PyObject* new_hand(PyTypeObject* type, HandValue value);

// A new instance of Hand itself.
inline PyObject* new_hand(HandValue value) { return new_hand(reinterpret_cast<PyTypeObject*>(hand_type()), value); }

}  // namespace tavrix
