// What every binding file of tavrix_equity._engine shares: array views through
// the buffer protocol, numpy-allocated results, checked tuples, and running
// engine work with the lock released and Ctrl-C honoured.
#pragma once

#include <nanobind/nanobind.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "equity_engine/equity_runs.hpp"
#include "equity_engine/parallel_runner.hpp"

namespace tavrix::binding {

namespace nb = nanobind;
using equity::Cancelled;
using equity::KeepGoing;

// Arrays cross through the buffer protocol, and results are allocated by
// numpy: nanobind's own array type aborts the process when the interpreter
// cannot allocate its bookkeeping, where these raise MemoryError.
class BufferView {
public:
    BufferView(nb::handle array, const char* what, bool writable = false) {
        const int flags = PyBUF_C_CONTIGUOUS | PyBUF_FORMAT | (writable ? PyBUF_WRITABLE : 0);
        if (PyObject_GetBuffer(array.ptr(), &view_, flags) == 0) return;
        if (PyErr_ExceptionMatches(PyExc_MemoryError)) throw nb::python_error();
        PyErr_Clear();
        throw nb::type_error((std::string(what) + " must be a C-contiguous integer array").c_str());
    }
    ~BufferView() { PyBuffer_Release(&view_); }
    BufferView(const BufferView&) = delete;
    BufferView& operator=(const BufferView&) = delete;

    // Whether the elements are integers of T's size and signedness (or floats
    // of T's size), in native order.
    template <typename T>
    bool holds() const noexcept {
        const char* format = view_.format == nullptr ? "B" : view_.format;
        if (*format == '@' || *format == '=' || (*format == '<' && std::endian::native == std::endian::little)) ++format;
        if (format[0] == '\0' || format[1] != '\0' || static_cast<std::size_t>(view_.itemsize) != sizeof(T)) return false;
        const std::string_view kinds = std::is_floating_point_v<T> ? "fd" : std::is_signed_v<T> ? "bhilq" : "BHILQ";
        return kinds.find(format[0]) != std::string_view::npos;
    }
    int ndim() const noexcept { return view_.ndim; }
    std::size_t shape(int axis) const noexcept { return static_cast<std::size_t>(view_.shape[axis]); }
    template <typename T>
    T* data() const noexcept {
        return static_cast<T*>(view_.buf);
    }

private:
    Py_buffer view_{};
};

template <typename T>
const T* elements(const BufferView& view, int ndim, const char* what, const char* dtype) {
    if (view.ndim() != ndim || !view.holds<T>())
        throw nb::type_error((std::string(what) + " must be a " + std::to_string(ndim) + "-D " + dtype + " array").c_str());
    return view.data<const T>();
}

// A new reference from the C API, or the interpreter's error (MemoryError).
inline nb::object checked(PyObject* result) {
    if (result == nullptr) throw nb::python_error();
    return nb::steal(result);
}

// New C-contiguous numpy arrays, allocated by numpy. Called through the C API:
// nanobind's method calls do not check that the interpreter could make the
// method's name.
inline nb::object new_vector(std::size_t count, const char* dtype) {
    const nb::object numpy = checked(PyImport_ImportModule("numpy"));
    return checked(PyObject_CallMethod(numpy.ptr(), "empty", "ns", static_cast<Py_ssize_t>(count), dtype));
}

inline nb::object new_matrix(std::size_t rows, std::size_t columns, const char* dtype) {
    const nb::object flat = new_vector(rows * columns, dtype);
    return checked(PyObject_CallMethod(flat.ptr(), "reshape", "nn", static_cast<Py_ssize_t>(rows),
                                       static_cast<Py_ssize_t>(columns)));
}

// A tuple of the items, converted. nanobind's own tuple conversions write into
// the new tuple without checking that the interpreter could allocate it.
template <typename... Items>
nb::object checked_tuple(const Items&... items) {
    nb::object objects[] = {nb::cast(items)...};
    nb::object tuple = nb::steal(PyTuple_New(sizeof...(Items)));
    if (!tuple.is_valid()) throw nb::python_error();
    for (std::size_t i = 0; i < sizeof...(Items); ++i)
        PyTuple_SET_ITEM(tuple.ptr(), static_cast<Py_ssize_t>(i), objects[i].release().ptr());
    return tuple;
}

// Runs `work(keep_going)` with the lock released. keep_going takes the lock
// for a moment to run pending signal handlers; if one raised (Ctrl-C), the
// engine stops and that exception is what the caller sees.
template <typename Work>
auto without_lock(Work&& work) {
    bool interrupted = false;
    const KeepGoing keep_going = [&interrupted] {
        const nb::gil_scoped_acquire lock;
        if (PyErr_CheckSignals() != 0) {
            interrupted = true;
            return false;
        }
        return true;
    };
    try {
        const nb::gil_scoped_release unlocked;
        return work(keep_going);
    } catch (const Cancelled&) {
        if (interrupted) throw nb::python_error();
        throw;
    }
}

}  // namespace tavrix::binding
