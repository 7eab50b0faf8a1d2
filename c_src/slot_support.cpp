// See slot_support.hpp.
#include "slot_support.hpp"

#include "python_versions.hpp"

#include <Python.h>

namespace z47 {

bool truth(py::handle value)
{
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0)
        throw py::error_already_set();
    return result == 1;
}

py::object weak(py::handle object)
{
    PyObject* ref = PyWeakref_NewRef(object.ptr(), nullptr);
    if (!ref)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(ref);
}

py::object deref(py::handle ref)
{
    PyObject* object = python_versions::referent(ref.ptr());
    if (!object)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(object);
}

bool is_alive(py::handle window)
{
    return !window.is_none() && !truth(py::module_::import("PyQt5.sip").attr("isdeleted")(window));
}

py::str text_of(py::handle value)
{
    return py::str(value);
}

}  // namespace z47
