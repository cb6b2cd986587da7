// Method tables store every entry point as a PyCFunction; the call flags tell
// the interpreter the real signature.
#pragma once

#include <Python.h>

namespace tavrix {

template <typename Function>
PyCFunction as_cfunction(Function* f) {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(f));
}

}  // namespace tavrix
