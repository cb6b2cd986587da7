// What every binding file of tavrix_equity._engine shares: array views through
// the buffer protocol, numpy-allocated results, checked tuples, and running
// engine work with the lock released, Ctrl-C and cancel events honoured.
#pragma once

#include <nanobind/nanobind.h>

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "equity_binding/interpreter_exit.hpp"
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
    // The limited API has no PyTuple_SET_ITEM; PyTuple_SetItem steals the item
    // even when it fails, which it cannot on a new tuple of this size.
    for (std::size_t i = 0; i < sizeof...(Items); ++i)
        if (PyTuple_SetItem(tuple.ptr(), static_cast<Py_ssize_t>(i), objects[i].release().ptr()) != 0)
            throw nb::python_error();
    return tuple;
}

// The lock released for a guard's lifetime. Taking it back goes through the
// exit gate: a thread that the interpreter's exit refuses parks instead of
// being ended inside C++ frames.
class ReleasedLock {
public:
    explicit ReleasedLock(EngineCall& call) : call_(call), state_(PyEval_SaveThread()) {}
    ~ReleasedLock() {
        if (!EngineCall::may_take_lock()) call_.park();
        PyEval_RestoreThread(state_);
    }
    ReleasedLock(const ReleasedLock&) = delete;
    ReleasedLock& operator=(const ReleasedLock&) = delete;

private:
    EngineCall& call_;
    PyThreadState* state_;
};

// Whether a cancellation event (an object with is_set(), or None) is set: 1,
// 0, or -1 with the Python error set. Called with the lock held.
inline int cancel_requested(nb::handle cancel) {
    if (!cancel.is_valid() || cancel.is_none()) return 0;
    PyObject* set = PyObject_CallMethod(cancel.ptr(), "is_set", nullptr);
    if (set == nullptr) return -1;
    const int truth = PyObject_IsTrue(set);
    Py_DECREF(set);
    return truth;
}

[[noreturn]] inline void raise_cancelled() {
    const nb::object futures = checked(PyImport_ImportModule("concurrent.futures"));
    const nb::object error = checked(PyObject_GetAttrString(futures.ptr(), "CancelledError"));
    PyErr_SetString(error.ptr(), "cancelled: the cancel event was set");
    throw nb::python_error();
}

// Runs `work(keep_going)` with the lock released. keep_going takes the lock
// for a moment to run pending signal handlers and to read the `cancel`
// event; if a handler raised (Ctrl-C), the engine stops and that exception
// is what the caller sees; if the event is set, the engine stops and the
// caller gets concurrent.futures.CancelledError. While the interpreter
// exits, keep_going stops the engine without touching the interpreter.
template <typename Work>
auto without_lock(Work&& work, nb::handle cancel = nb::handle()) {
    bool interrupted = false;
    bool cancelled = false;
    const KeepGoing keep_going = [&interrupted, &cancelled, cancel] {
        if (!EngineCall::may_take_lock()) return false;
        const nb::gil_scoped_acquire lock;
        if (PyErr_CheckSignals() != 0) {
            interrupted = true;
            return false;
        }
        const int requested = cancel_requested(cancel);
        if (requested != 0) {
            (requested < 0 ? interrupted : cancelled) = true;
            return false;
        }
        return true;
    };
    EngineCall call;
    try {
        const ReleasedLock unlocked(call);
        return work(keep_going);
    } catch (const Cancelled&) {
        if (interrupted) throw nb::python_error();
        if (cancelled) raise_cancelled();
        throw;
    }
}

// without_lock (with its `cancel` event) that also reports progress: `progress` (None, or a callable
// progress(done, total)) is called from this thread, lock held, with the work
// items the engine's runs have finished, at each poll where that number
// changed and once more at the end with done == total. An exception from it
// stops the work and is what the caller sees.
template <typename Work>
auto with_progress(nb::handle progress, Work&& work, nb::handle cancel = nb::handle()) {
    if (progress.is_none()) return without_lock(std::forward<Work>(work), cancel);
    equity::ProgressCount count;
    std::uint64_t reported = 0;
    bool failed = false;
    auto report = [&](std::uint64_t done, std::uint64_t total) {
        reported = done;
        const nb::object result = nb::steal(PyObject_CallFunction(progress.ptr(), "KK", static_cast<unsigned long long>(done),
                                                                  static_cast<unsigned long long>(total)));
        return result.is_valid();
    };
    try {
        auto result = without_lock([&](const KeepGoing& keep_going) {
            const equity::ProgressScope scope(count);
            const KeepGoing keep_going_and_report = [&] {
                if (!keep_going()) return false;
                const std::uint64_t done = count.done.load(std::memory_order_relaxed);
                if (done == reported) return true;
                const nb::gil_scoped_acquire lock;
                failed = !report(done, count.total.load(std::memory_order_relaxed));
                return !failed;
            };
            return work(keep_going_and_report);
        }, cancel);
        const std::uint64_t total = std::max<std::uint64_t>(count.total.load(), 1);
        if (!report(total, total)) throw nb::python_error();
        return result;
    } catch (const Cancelled&) {
        if (failed) throw nb::python_error();
        throw;
    }
}

}  // namespace tavrix::binding
