// Python errors travel inside the module as C++ exceptions (PyError) and are
// set in the interpreter once, by the entry point wrapper.
#pragma once

#include <Python.h>

#include <string>

#include "boundary/py_ref.hpp"

namespace tavrix {

class PyError {
public:
    // Built by the module: an exception type (a static interpreter type) and its message.
    static PyError built(PyObject* type, std::string message) { return PyError(type, std::move(message)); }
    // Taken over from the interpreter after a C API call failed.
    static PyError fetched(OwnedRef exception) { return PyError(std::move(exception)); }

    // Whether the exception's type is exactly `type` (a subclass does not count).
    bool is_exactly(PyObject* type) const noexcept;
    // The error's message as text (built) or the exception's str() (fetched).
    std::string text() const;
    // The exception's __cause__ (fetched errors only), as a new reference or null.
    OwnedRef cause() const noexcept;
    // Attaches a cause that restore() sets with PyException_SetCause (null clears it).
    void set_cause(OwnedRef cause) noexcept {
        cause_ = std::move(cause);
        has_cause_ = true;
    }

    // Sets the error in the interpreter. May panic if the interpreter cannot
    // create the message string, which the wrapper does not catch.
    void restore() &&;

private:
    PyError(PyObject* type, std::string message) : type_(type), message_(std::move(message)) {}
    explicit PyError(OwnedRef exception) noexcept : exception_(std::move(exception)) {}

    PyObject* type_ = nullptr;
    std::string message_;
    OwnedRef exception_;
    OwnedRef cause_;
    bool has_cause_ = false;
};

[[noreturn]] void throw_error(PyObject* type, std::string message);

// After a C API call signalled failure: takes the pending exception over and
// throws it as a PyError; with nothing pending, a SystemError; a PanicException
// coming back from Python code is resumed as a panic.
[[noreturn]] void throw_fetched();

// Raises the interpreter's MemoryError, which needs no allocation of its own.
[[noreturn]] void throw_no_memory();

// Returns `p` as an owned reference, or throws the pending error when it is null.
OwnedRef checked(PyObject* p);

// str(obj) as UTF-8; lone surrogates come out as U+FFFD replacement characters.
// If str() raises, the failure goes to the unraisable hook and the text is
// "<unprintable {type} object>".
std::string object_text(PyObject* obj);

// UTF-8 of a str object into `out`, lone surrogates replaced by U+FFFD; false
// (with an exception pending) if the text cannot be had at all.
bool str_to_utf8(PyObject* str, std::string& out);

// The qualified name of obj's type, or "<failed to extract type name>".
std::string type_qualname(PyObject* obj);

// "'{Q}' object cannot be converted to '{target}'"
[[noreturn]] void throw_cannot_convert(PyObject* obj, const char* target);

// The result of a C API call that creates a result object; a null result is a
// panic "Python API call failed" after the interpreter's error is printed.
PyObject* result_or_panic(PyObject* result);

}  // namespace tavrix
