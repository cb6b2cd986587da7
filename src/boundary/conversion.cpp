#include "boundary/conversion.hpp"

#include <algorithm>

namespace tavrix {
namespace {

// A length that a sequence reports only sizes the first reservation; for other
// types than list and tuple it is an unverified claim, so a huge one must not
// turn into a huge allocation before a single item has been seen.
constexpr Py_ssize_t MAX_UNVERIFIED_LENGTH_HINT = 1 << 16;

Py_ssize_t length_hint(PyObject* sequence) {
    const Py_ssize_t hint = PySequence_Size(sequence);
    if (hint < 0) {
        PyErr_Clear();
        return 0;
    }
    if (PyList_CheckExact(sequence) || PyTuple_CheckExact(sequence)) return hint;
    return std::min(hint, MAX_UNVERIFIED_LENGTH_HINT);
}

KeyMaskPair to_key_mask_pair(PyObject* item) {
    if (!PyTuple_Check(item)) throw_cannot_convert(item, "PyTuple");
    const Py_ssize_t length = PyTuple_GET_SIZE(item);
    if (length != 2)
        throw_error(PyExc_ValueError, "expected tuple of length 2, but got tuple of length " + std::to_string(length));
    const std::uint64_t key = to_u64(PyTuple_GET_ITEM(item, 0));
    return {key, to_u64(PyTuple_GET_ITEM(item, 1))};
}

}  // namespace

std::uint8_t to_u8(PyObject* value) {
    const long v = PyLong_AsLong(value);
    if (v == -1 && PyErr_Occurred()) throw_fetched();
    if (static_cast<unsigned long>(v) > 255)
        throw_error(PyExc_OverflowError, "out of range integral type conversion attempted");
    return static_cast<std::uint8_t>(v);
}

std::uint64_t to_u64(PyObject* value) {
    unsigned long long v;
    if (PyLong_Check(value)) {
        // Most words fit in a signed 64-bit integer, whose conversion is far
        // cheaper than the unsigned one; the rest (and every failure, with the
        // interpreter's own message) takes the unsigned conversion.
        int overflow = 0;
        const long long fast = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (overflow == 0 && fast >= 0) return static_cast<std::uint64_t>(fast);
        v = PyLong_AsUnsignedLongLong(value);
    } else {
        OwnedRef index = checked(PyNumber_Index(value));
        v = PyLong_AsUnsignedLongLong(index.get());
    }
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw_fetched();
    return v;
}

InputSizedVector<KeyMaskPair> to_key_mask_pairs(PyObject* sequence) {
    if (PyUnicode_Check(sequence)) throw_error(PyExc_TypeError, "Can't extract `str` to `Vec`");
    if (!PySequence_Check(sequence)) throw_cannot_convert(sequence, "Sequence");

    InputSizedVector<KeyMaskPair> pairs;
    pairs.reserve(static_cast<std::size_t>(length_hint(sequence)));
    OwnedRef iterator = checked(PyObject_GetIter(sequence));
    while (OwnedRef item{PyIter_Next(iterator.get())}) pairs.push_back(to_key_mask_pair(item.get()));
    if (PyErr_Occurred()) throw_fetched();
    return pairs;
}

PyObject* u64_to_py(std::uint64_t value) { return result_or_panic(PyLong_FromUnsignedLongLong(value)); }
PyObject* u32_to_py(std::uint32_t value) { return result_or_panic(PyLong_FromLong(static_cast<long>(value))); }
PyObject* i32_to_py(std::int32_t value) { return result_or_panic(PyLong_FromLong(static_cast<long>(value))); }
PyObject* bool_to_py(bool value) { return Py_NewRef(value ? Py_True : Py_False); }

}  // namespace tavrix
