// The instance record of the Python class Hand, and borrows of it.
//
// borrow_flag: 0 free, n >= 1 shared borrows, all ones one exclusive borrow.
// It is only touched with atomic operations so that a shared and an exclusive
// use of one instance can never overlap, whichever thread gets there.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

#include "boundary/py_ref.hpp"
#include "hand_evaluator/hand_value.hpp"

namespace tavrix {

struct HandObject {
    PyObject_HEAD
    std::uint64_t key;
    std::uint64_t mask;
    std::uint64_t borrow_flag;

    HandValue value() const noexcept { return {key, mask}; }
};

inline constexpr std::uint64_t EXCLUSIVELY_BORROWED = ~std::uint64_t{0};

// Type check and shared borrow of a Hand; throws TypeError "'{Q}' object cannot
// be converted to 'Hand'" or RuntimeError "Already mutably borrowed".
class SharedHand {
public:
    explicit SharedHand(PyObject* obj);
    ~SharedHand();
    SharedHand(const SharedHand&) = delete;
    SharedHand& operator=(const SharedHand&) = delete;

    const HandObject* operator->() const noexcept { return reinterpret_cast<const HandObject*>(ref_.get()); }

private:
    OwnedRef ref_;
};

// Type check and exclusive borrow; throws RuntimeError "Already borrowed".
class ExclusiveHand {
public:
    explicit ExclusiveHand(PyObject* obj);
    ~ExclusiveHand();
    ExclusiveHand(const ExclusiveHand&) = delete;
    ExclusiveHand& operator=(const ExclusiveHand&) = delete;

    HandObject* operator->() const noexcept { return reinterpret_cast<HandObject*>(ref_.get()); }

private:
    OwnedRef ref_;
};

}  // namespace tavrix
