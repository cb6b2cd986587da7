// Converting Python values into the typed parameters of operations, and
// typed results back into Python objects.
#pragma once

#include <Python.h>

#include <cstdint>
#include <cstdlib>
#include <limits>
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

// The batch buffers of evaluate_list grow with the caller's input, which may be
// endless or larger than memory. Running out there is the caller's MemoryError,
// not the abort that the module's own allocations take: the process is sound
// and the buffer is simply freed.
template <typename T>
struct InputSizedAllocator {
    using value_type = T;

    InputSizedAllocator() noexcept = default;
    template <typename U>
    InputSizedAllocator(const InputSizedAllocator<U>&) noexcept {}

    T* allocate(std::size_t count) {
        void* p = count <= std::numeric_limits<std::size_t>::max() / sizeof(T) ? std::malloc(count * sizeof(T)) : nullptr;
        if (p == nullptr) throw_no_memory();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t) noexcept { std::free(p); }

    friend bool operator==(const InputSizedAllocator&, const InputSizedAllocator&) noexcept { return true; }
};

template <typename T>
using InputSizedVector = std::vector<T, InputSizedAllocator<T>>;

// The argument of evaluate_list: a non-str sequence of (key, mask) tuples.
InputSizedVector<KeyMaskPair> to_key_mask_pairs(PyObject* sequence);

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
