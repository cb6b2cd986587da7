#include "boundary/errors.hpp"

#include "hand_evaluator/panic.hpp"
#include "boundary/panic_exception.hpp"

namespace tavrix {
namespace {

constexpr const char NO_EXCEPTION_SET[] = "attempted to fetch exception but none was set";

// A PanicException raised by Python code that the module called: report it in
// the interpreter's own way and continue as a panic with the same message.
[[noreturn]] void resume_panic_from_python(OwnedRef exception) {
    std::string message;
    OwnedRef str(PyObject_Str(exception.get()));
    if (!str || !str_to_utf8(str.get(), message)) {
        PyErr_Clear();
        message = "Unwrapped panic from Python code";
    }
    write_stderr("--- PyO3 is resuming a panic after fetching a PanicException from Python. ---\n"
                 "Python stack trace below:\n");
    PyErr_SetRaisedException(exception.release());
    PyErr_PrintEx(0);
    resume_panic(std::move(message));
}

}  // namespace

bool PyError::is_exactly(PyObject* type) const noexcept {
    if (exception_) return reinterpret_cast<PyObject*>(Py_TYPE(exception_.get())) == type;
    return type_ == type;
}

std::string PyError::text() const { return exception_ ? object_text(exception_.get()) : message_; }

OwnedRef PyError::cause() const noexcept {
    return exception_ ? OwnedRef(PyException_GetCause(exception_.get())) : OwnedRef();
}

void PyError::restore() && {
    if (exception_) {
        PyErr_SetRaisedException(exception_.release());
        return;
    }
    if (!PyExceptionClass_Check(type_)) {
        PyErr_SetString(PyExc_TypeError, "exceptions must derive from BaseException");
        return;
    }
    OwnedRef message(PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
    if (!message) panic("failed to create the message of an exception");
    PyErr_SetObject(type_, message.get());
    if (has_cause_) {
        OwnedRef raised(PyErr_GetRaisedException());
        PyException_SetCause(raised.get(), cause_.release());  // steals the cause
        PyErr_SetRaisedException(raised.release());
    }
}

void throw_error(PyObject* type, std::string message) { throw PyError::built(type, std::move(message)); }

void throw_fetched() {
    OwnedRef exception(PyErr_GetRaisedException());
    if (!exception) throw_error(PyExc_SystemError, NO_EXCEPTION_SET);
    if (reinterpret_cast<PyObject*>(Py_TYPE(exception.get())) == panic_exception_type())
        resume_panic_from_python(std::move(exception));
    throw PyError::fetched(std::move(exception));
}

void throw_no_memory() {
    PyErr_NoMemory();
    throw_fetched();
}

OwnedRef checked(PyObject* p) {
    if (p == nullptr) throw_fetched();
    return OwnedRef(p);
}

bool str_to_utf8(PyObject* str, std::string& out) {
    Py_ssize_t size = 0;
    if (const char* data = PyUnicode_AsUTF8AndSize(str, &size)) {
        out.assign(data, static_cast<std::size_t>(size));
        return true;
    }
    // Lone surrogates have no UTF-8 form: pass them through as bytes, then let
    // the decoder replace each of their bytes.
    PyErr_Clear();
    OwnedRef bytes(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    if (!bytes) return false;
    OwnedRef decoded(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()), PyBytes_GET_SIZE(bytes.get()), "replace"));
    if (!decoded) return false;
    const char* data = PyUnicode_AsUTF8AndSize(decoded.get(), &size);
    if (data == nullptr) return false;
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

std::string object_text(PyObject* obj) {
    std::string text;
    OwnedRef str(PyObject_Str(obj));
    if (str && str_to_utf8(str.get(), text)) return text;
    if (!str) {
        PyErr_WriteUnraisable(obj);
    } else {
        PyErr_Clear();
    }
    OwnedRef name(PyType_GetName(Py_TYPE(obj)));
    std::string type_name;
    if (name && str_to_utf8(name.get(), type_name)) return "<unprintable " + type_name + " object>";
    PyErr_Clear();
    return "<unprintable object>";
}

std::string type_qualname(PyObject* obj) {
    OwnedRef name(PyType_GetQualName(Py_TYPE(obj)));
    std::string text;
    if (name && str_to_utf8(name.get(), text)) return text;
    PyErr_Clear();
    return "<failed to extract type name>";
}

void throw_cannot_convert(PyObject* obj, const char* target) {
    std::string message = "'";
    message += type_qualname(obj);
    message += "' object cannot be converted to '";
    message += target;
    message += '\'';
    throw_error(PyExc_TypeError, std::move(message));
}

PyObject* result_or_panic(PyObject* result) {
    if (result == nullptr) {
        PyErr_Print();
        panic("Python API call failed");
    }
    return result;
}

}  // namespace tavrix
