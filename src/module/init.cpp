// The module tree: tavrix with evaluate, evaluate_list and the submodule
// poker_hand (Hand, get_cards). Single-phase init, created once per process.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "boundary/entry_point.hpp"
#include "boundary/errors.hpp"
#include "hand_evaluator/panic.hpp"
#include "module/hand_methods.hpp"
#include "module/method_cast.hpp"
#include "module/hand_type.hpp"
#include "module/scoring_functions.hpp"

namespace tavrix {
namespace {

constexpr const char SUBINTERPRETER_MESSAGE[] =
    "PyO3 modules do not yet support subinterpreters, see "
    "https://docs.python.org/3/c-api/init.html#sub-interpreter-support";

// The interpreter keeps pointers into these records for as long as the
// function objects live, so they are static.
PyMethodDef EVALUATE_DEF = {"evaluate", as_cfunction(evaluate), METH_FASTCALL | METH_KEYWORDS,
                            "evaluate(hand)\n--\n\nEvaluates a single hand and returns score"};
PyMethodDef EVALUATE_LIST_DEF = {"evaluate_list", as_cfunction(evaluate_list), METH_FASTCALL | METH_KEYWORDS,
                                 "evaluate_list(list)\n--\n\n"};
PyMethodDef GET_CARDS_DEF = {"get_cards", poker_hand_get_cards, METH_NOARGS, "get_cards()\n--\n\n"};

PyModuleDef TAVRIX_MODULE_DEF = {
    PyModuleDef_HEAD_INIT, "tavrix", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

std::atomic<std::int64_t> initialised_interpreter{-1};
PyObject* module_cache = nullptr;  // owned for the life of the process

// Interned once per process.
PyObject* interned(PyObject*& cell, const char* text) {
    if (cell == nullptr) cell = checked(PyUnicode_InternFromString(text)).release();
    return cell;
}
PyObject* all_name_cell = nullptr;
PyObject* name_name_cell = nullptr;

// The module's __all__ list, created empty on first use.
OwnedRef all_list(PyObject* module) {
    PyObject* all_name = interned(all_name_cell, "__all__");
    if (OwnedRef all{PyObject_GetAttr(module, all_name)}) {
        if (!PyList_Check(all.get())) throw_cannot_convert(all.get(), "PyList");
        return all;
    }
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw_fetched();
    PyErr_Clear();
    OwnedRef all = checked(PyList_New(0));
    if (PyObject_SetAttr(module, all_name, all.get()) < 0) throw_fetched();
    return all;
}

// Records `name` in __all__, then sets the attribute. A failed attribute
// assignment leaves the name in __all__.
void add_to_module(PyObject* module, PyObject* name, PyObject* value) {
    OwnedRef all = all_list(module);
    if (PyList_Append(all.get(), name) < 0) {
        OwnedRef error(PyErr_GetRaisedException());
        const std::string description =
            error ? type_qualname(error.get()) + ": " + object_text(error.get()) : "no exception was set";
        panic("could not append __name__ to __all__: " + description);
    }
    if (PyObject_SetAttr(module, name, value) < 0) throw_fetched();
}

// A built-in function bound to `module`, added under its own __name__.
void add_function(PyObject* module, PyMethodDef* def) {
    OwnedRef module_name = checked(PyModule_GetNameObject(module));
    OwnedRef function = checked(PyCMethod_New(def, module, module_name.get(), nullptr));
    OwnedRef name = checked(PyObject_GetAttr(function.get(), interned(name_name_cell, "__name__")));
    if (!PyUnicode_Check(name.get())) throw_cannot_convert(name.get(), "PyString");
    add_to_module(module, name.get(), function.get());
}

void fill_module(PyObject* module) {
    add_function(module, &EVALUATE_DEF);
    add_function(module, &EVALUATE_LIST_DEF);

    OwnedRef submodule_name = checked(PyUnicode_FromString("poker_hand"));
    OwnedRef poker_hand = checked(PyModule_NewObject(submodule_name.get()));
    OwnedRef hand_name = checked(PyUnicode_FromString("Hand"));
    add_to_module(poker_hand.get(), hand_name.get(), try_hand_type());
    add_function(poker_hand.get(), &GET_CARDS_DEF);

    OwnedRef attribute_name = checked(PyModule_GetNameObject(poker_hand.get()));
    add_to_module(module, attribute_name.get(), poker_hand.get());
}

PyObject* init_module() {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) throw_fetched();
    std::int64_t expected = -1;
    if (!initialised_interpreter.compare_exchange_strong(expected, id, std::memory_order_seq_cst) && expected != id)
        throw_error(PyExc_ImportError, SUBINTERPRETER_MESSAGE);

    if (module_cache == nullptr) {
        OwnedRef module = checked(PyModule_Create2(&TAVRIX_MODULE_DEF, 1013));
        fill_module(module.get());
        if (module_cache == nullptr) module_cache = module.release();
    }
    return Py_NewRef(module_cache);
}

}  // namespace
}  // namespace tavrix

PyMODINIT_FUNC PyInit_tavrix(void) {
    return tavrix::run_entry_point<PyObject*>(nullptr, tavrix::init_module);
}
