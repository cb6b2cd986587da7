#include "boundary/binding.hpp"

#include <cstring>
#include <string>
#include <vector>

#include "boundary/errors.hpp"

namespace tavrix {
namespace {

std::string display_name(const CallSignature& signature) {
    std::string text;
    if (signature.owner != nullptr) {
        text += signature.owner;
        text += '.';
    }
    text += signature.name;
    text += "()";
    return text;
}

// Binds positional values; fails before any keyword is looked at.
void bind_positional(const CallSignature& signature, PyObject* const* args, Py_ssize_t count,
                     std::span<PyObject*> slots) {
    const auto parameter_count = static_cast<Py_ssize_t>(signature.parameters.size());
    if (count > parameter_count) {
        throw_error(PyExc_TypeError, display_name(signature) + " takes " + std::to_string(parameter_count) +
                                         " positional arguments but " + std::to_string(count) +
                                         (count == 1 ? " was" : " were") + " given");
    }
    for (Py_ssize_t i = 0; i < count; ++i) slots[static_cast<std::size_t>(i)] = args[i];
}

void bind_keyword(const CallSignature& signature, PyObject* name, PyObject* value, std::span<PyObject*> slots) {
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(name, &size);
    if (text == nullptr) PyErr_Clear();  // lone surrogates: no parameter can match
    for (std::size_t i = 0; text != nullptr && i < signature.parameters.size(); ++i) {
        const char* parameter = signature.parameters[i];
        if (std::strlen(parameter) != static_cast<std::size_t>(size) || std::memcmp(parameter, text, size) != 0)
            continue;
        if (slots[i] != nullptr)
            throw_error(PyExc_TypeError,
                        display_name(signature) + " got multiple values for argument '" + parameter + "'");
        slots[i] = value;
        return;
    }
    throw_error(PyExc_TypeError,
                display_name(signature) + " got an unexpected keyword argument '" + object_text(name) + "'");
}

void check_required(const CallSignature& signature, std::span<PyObject*> slots) {
    std::vector<const char*> missing;
    for (std::size_t i = 0; i < slots.size(); ++i)
        if (slots[i] == nullptr) missing.push_back(signature.parameters[i]);
    if (missing.empty()) return;

    std::string names;
    for (std::size_t i = 0; i < missing.size(); ++i) {
        if (i > 0) names += missing.size() > 2 ? (i + 1 == missing.size() ? ", and " : ", ") : " and ";
        names += '\'';
        names += missing[i];
        names += '\'';
    }
    throw_error(PyExc_TypeError, display_name(signature) + " missing " + std::to_string(missing.size()) +
                                     " required positional " + (missing.size() == 1 ? "argument" : "arguments") +
                                     ": " + names);
}

}  // namespace

void bind_fastcall(const CallSignature& signature, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                   std::span<PyObject*> slots) {
    const Py_ssize_t count = PyVectorcall_NARGS(nargsf);
    bind_positional(signature, args, count, slots);
    if (kwnames != nullptr) {
        const Py_ssize_t keyword_count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t i = 0; i < keyword_count; ++i)
            bind_keyword(signature, PyTuple_GET_ITEM(kwnames, i), args[count + i], slots);
    }
    check_required(signature, slots);
}

void bind_tuple_and_dict(const CallSignature& signature, PyObject* args, PyObject* kwargs,
                         std::span<PyObject*> slots) {
    bind_positional(signature, &PyTuple_GET_ITEM(args, 0), PyTuple_GET_SIZE(args), slots);
    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* name = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &name, &value)) bind_keyword(signature, name, value, slots);
    }
    check_required(signature, slots);
}

}  // namespace tavrix
