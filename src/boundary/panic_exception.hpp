// pyo3_runtime.PanicException: the exception type a panic becomes at the boundary.
#pragma once

#include <Python.h>

#include <string>

namespace tavrix {

// The type object, created on first need and kept for the life of the process.
// A failure to create it is a panic.
PyObject* panic_exception_type();

// Sets PanicException(message) in the interpreter.
void raise_panic_exception(const std::string& message);

}  // namespace tavrix
