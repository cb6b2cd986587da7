// Owned references: a new reference is owned from the moment it is created
// and released on every path, so error paths need no cleanup code.
#pragma once

#include <Python.h>

#include <utility>

namespace tavrix {

class OwnedRef {
public:
    OwnedRef() noexcept = default;
    // Takes over a new reference (or null).
    explicit OwnedRef(PyObject* p) noexcept : p_(p) {}
    OwnedRef(const OwnedRef&) = delete;
    OwnedRef& operator=(const OwnedRef&) = delete;
    OwnedRef(OwnedRef&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    OwnedRef& operator=(OwnedRef&& other) noexcept {
        if (this != &other) {
            Py_XDECREF(p_);
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    ~OwnedRef() { Py_XDECREF(p_); }

    // A new reference to an object the caller only borrows.
    static OwnedRef borrowed(PyObject* p) noexcept { return OwnedRef(Py_XNewRef(p)); }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Hands the reference over, typically to the interpreter at a return.
    PyObject* release() noexcept { return std::exchange(p_, nullptr); }

private:
    PyObject* p_ = nullptr;
};

}  // namespace tavrix
