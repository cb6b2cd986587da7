#include <atomic>

#include "boundary/errors.hpp"
#include "module/hand_object.hpp"
#include "module/hand_type.hpp"

namespace tavrix {
namespace {

std::atomic_ref<std::uint64_t> flag_of(PyObject* obj) noexcept {
    return std::atomic_ref<std::uint64_t>(reinterpret_cast<HandObject*>(obj)->borrow_flag);
}

// Throws TypeError "'{Q}' object cannot be converted to 'Hand'" unless obj is a Hand.
void check_hand(PyObject* obj) {
    auto* type = reinterpret_cast<PyTypeObject*>(hand_type());
    if (Py_TYPE(obj) != type && !PyType_IsSubtype(Py_TYPE(obj), type)) throw_cannot_convert(obj, "Hand");
}

}  // namespace

SharedHand::SharedHand(PyObject* obj) {
    check_hand(obj);
    auto flag = flag_of(obj);
    std::uint64_t seen = flag.load(std::memory_order_relaxed);
    do {
        if (seen == EXCLUSIVELY_BORROWED) throw_error(PyExc_RuntimeError, "Already mutably borrowed");
    } while (!flag.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire, std::memory_order_relaxed));
    ref_ = OwnedRef::borrowed(obj);
}

SharedHand::~SharedHand() { flag_of(ref_.get()).fetch_sub(1, std::memory_order_release); }

ExclusiveHand::ExclusiveHand(PyObject* obj) {
    check_hand(obj);
    std::uint64_t expected = 0;
    if (!flag_of(obj).compare_exchange_strong(expected, EXCLUSIVELY_BORROWED, std::memory_order_acquire,
                                              std::memory_order_relaxed))
        throw_error(PyExc_RuntimeError, "Already borrowed");
    ref_ = OwnedRef::borrowed(obj);
}

ExclusiveHand::~ExclusiveHand() { flag_of(ref_.get()).store(0, std::memory_order_release); }

}  // namespace tavrix
