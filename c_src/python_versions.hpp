// What differs between the Pythons the module is built for, in one place:
//
//     3.11   /usr/bin/python3 on Debian 12
//     3.12   the Windows package's runtime
//     3.13   /usr/bin/python3 on Debian 13
//
// Everything else in the module calls the names below and reads the same on all three.
#pragma once

#include <Python.h>

namespace z47::python_versions {

// The object a weak reference points to, as a new reference: None once it is gone, nullptr
// with an error set when `ref` is not a weak reference.  3.13 deprecates PyWeakref_GetObject,
// whose borrowed result can vanish at the next collection, for PyWeakref_GetRef (3.13+),
// which hands out a strong reference.
inline PyObject* referent(PyObject* ref)
{
#if PY_VERSION_HEX >= 0x030D0000
    PyObject* object = nullptr;
    if (PyWeakref_GetRef(ref, &object) < 0)
        return nullptr;
    return object ? object : Py_NewRef(Py_None);
#else
    PyObject* object = PyWeakref_GetObject(ref);
    return object ? Py_NewRef(object) : nullptr;
#endif
}

// The pending exception, taken out while other calls run and then put back as it was.  3.12
// keeps an exception as one object (PyErr_GetRaisedException) and deprecates the three-part
// PyErr_Fetch, which is all that 3.11 has.
class SetAsidePendingError {
public:
    SetAsidePendingError()
    {
#if PY_VERSION_HEX >= 0x030C0000
        exception_ = PyErr_GetRaisedException();
#else
        PyErr_Fetch(&type_, &exception_, &traceback_);
#endif
    }
    SetAsidePendingError(const SetAsidePendingError&) = delete;
    SetAsidePendingError& operator=(const SetAsidePendingError&) = delete;

    // Makes it the pending exception again, replacing whatever is pending now.
    ~SetAsidePendingError()
    {
#if PY_VERSION_HEX >= 0x030C0000
        PyErr_SetRaisedException(exception_);
#else
        PyErr_Restore(type_, exception_, traceback_);
#endif
    }

private:
#if PY_VERSION_HEX < 0x030C0000
    PyObject* type_ = nullptr;
    PyObject* traceback_ = nullptr;
#endif
    PyObject* exception_ = nullptr;
};

}  // namespace z47::python_versions
