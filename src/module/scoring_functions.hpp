// Entry points of evaluate and evaluate_list.
#pragma once

#include <Python.h>

namespace tavrix {

PyObject* evaluate(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);
PyObject* evaluate_list(PyObject* module, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames);

}  // namespace tavrix
