// Converting Python values into the typed parameters of operations, and
// typed results back into Python objects.
#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "boundary/errors.hpp"

namespace tavrix {

// Card indices and suit numbers: 0 to 255.
std::uint8_t to_u8(PyObject* value);
// Masks and words: 0 to 2^64 - 1.
std::uint64_t to_u64(PyObject* value);

struct KeyMaskPair {
    std::uint64_t key;
    std::uint64_t mask;
};

// The argument of evaluate_list: a non-str sequence of (key, mask) tuples.
std::vector<KeyMaskPair> to_key_mask_pairs(PyObject* sequence);

// Runs one argument conversion; a TypeError (exactly) from it is replaced by
// TypeError "argument '{parameter}': {message}", keeping the original's cause.
template <typename Convert>
auto convert_argument(const char* parameter, Convert&& convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (PyError& error) {
        if (!error.is_exactly(PyExc_TypeError)) throw;
        PyError prefixed = PyError::built(PyExc_TypeError, std::string("argument '") + parameter + "': " + error.text());
        prefixed.set_cause(error.cause());
        throw prefixed;
    }
}

// Results. Each creation failure is a panic "Python API call failed".
PyObject* u64_to_py(std::uint64_t value);
PyObject* u32_to_py(std::uint32_t value);
PyObject* i32_to_py(std::int32_t value);
PyObject* bool_to_py(bool value);

}  // namespace tavrix
