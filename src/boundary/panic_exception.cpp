#include "boundary/panic_exception.hpp"

#include "boundary/errors.hpp"
#include "hand_evaluator/panic.hpp"

namespace tavrix {
namespace {

constexpr const char PANIC_EXCEPTION_DOC[] =
    "\n"
    "Raised when native code of the tavrix module, called from Python, panics.\n"
    "\n"
    "Like SystemExit, it derives from BaseException, so that it typically\n"
    "propagates all the way through the stack and makes the Python interpreter exit.\n";

// Owned for the life of the process; filled once, under the interpreter lock.
PyObject* panic_exception = nullptr;

}  // namespace

PyObject* panic_exception_type() {
    if (panic_exception != nullptr) return panic_exception;
    PyObject* created = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", PANIC_EXCEPTION_DOC,
                                                  PyExc_BaseException, nullptr);
    if (created == nullptr) {
        OwnedRef error(PyErr_GetRaisedException());
        std::string description =
            error ? type_qualname(error.get()) + ": " + object_text(error.get()) : "no exception was set";
        panic("Failed to initialize new exception type.: " + description);
    }
    if (panic_exception == nullptr)
        panic_exception = created;
    else
        Py_DECREF(created);
    return panic_exception;
}

void raise_panic_exception(const std::string& message) {
    PyObject* type = panic_exception_type();
    OwnedRef text(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text) panic("failed to create the message of a PanicException");
    PyErr_SetObject(type, text.get());
}

}  // namespace tavrix
