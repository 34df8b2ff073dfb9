// The least work any validator must do on the two bulk workloads, as a yardstick for
// brindle_core's validate: step through the container with the C API, read each
// number, compare it with the bounds, stop at the first miss. No schema, no dispatch.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace {

bool read_bounds(PyObject* const* args, Py_ssize_t nargs, double& low, double& high) noexcept {
    if (nargs != 3) {
        PyErr_SetString(PyExc_TypeError, "expected (container, low, high)");
        return false;
    }
    low = PyFloat_AsDouble(args[1]);
    high = PyFloat_AsDouble(args[2]);
    return !PyErr_Occurred();
}

// ints(list, low, high): every item an int within [low, high].
PyObject* floor_ints(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    double low = 0, high = 0;
    if (!read_bounds(args, nargs, low, high)) return nullptr;
    PyObject* list = args[0];
    if (!PyList_Check(list)) Py_RETURN_FALSE;
    for (Py_ssize_t i = 0; i < PyList_GET_SIZE(list); ++i) {
        PyObject* item = PyList_GET_ITEM(list, i);  // borrowed: nothing here runs Python code
        if (!PyLong_Check(item)) Py_RETURN_FALSE;
        long value = PyLong_AsLong(item);
        if (value == -1 && PyErr_Occurred()) {
            PyErr_Clear();  // out of range is a miss, not an error
            Py_RETURN_FALSE;
        }
        auto number = static_cast<double>(value);
        if (number < low || number > high) Py_RETURN_FALSE;
    }
    Py_RETURN_TRUE;
}

// floats(dict, low, high): every key a str, every value a float within [low, high].
PyObject* floor_floats(PyObject*, PyObject* const* args, Py_ssize_t nargs) noexcept {
    double low = 0, high = 0;
    if (!read_bounds(args, nargs, low, high)) return nullptr;
    PyObject* dict = args[0];
    if (!PyDict_Check(dict)) Py_RETURN_FALSE;
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;    // borrowed
    PyObject* value = nullptr;  // borrowed
    while (PyDict_Next(dict, &pos, &key, &value)) {
        if (!PyUnicode_Check(key) || !PyFloat_Check(value)) Py_RETURN_FALSE;
        double number = PyFloat_AS_DOUBLE(value);
        if (number < low || number > high) Py_RETURN_FALSE;
    }
    Py_RETURN_TRUE;
}

PyMethodDef floor_methods[] = {
    {"ints", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(floor_ints)),
     METH_FASTCALL, "ints(list, low, high) -> bool"},
    {"floats", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(floor_floats)),
     METH_FASTCALL, "floats(dict, low, high) -> bool"},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef floor_module = {
    PyModuleDef_HEAD_INIT, "brindle_floor", "Lower bound of validation work.", -1,
    floor_methods, nullptr, nullptr, nullptr, nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_brindle_floor() {
    return PyModule_Create(&floor_module);
}
