// Matching positional and keyword arguments to an operation's parameters.
// Every parameter of this module is required and positional-or-keyword.
#pragma once

#include <Python.h>

#include <array>
#include <span>

namespace tavrix {

struct CallSignature {
    const char* owner;  // "Hand" for the class's operations, null for module functions
    const char* name;
    std::span<const char* const> parameters;
};

// Binds a vectorcall-style call into `slots` (borrowed references, one per
// parameter); throws the binding TypeError on a mismatch.
void bind_fastcall(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                   std::span<PyObject*> slots);

// The same for a call given as a tuple and an optional keyword dict (tp_new).
void bind_tuple_and_dict(const CallSignature& signature, PyObject* args, PyObject* kwargs, std::span<PyObject*> slots);

template <std::size_t N>
std::array<PyObject*, N> bind_arguments(const char* owner, const char* name, const std::array<const char*, N>& names,
                                        PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
    std::array<PyObject*, N> slots{};
    bind_fastcall({owner, name, names}, args, nargsf, kwnames, slots);
    return slots;
}

}  // namespace tavrix
