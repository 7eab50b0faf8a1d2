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

bool is_deleted(py::handle qobject)
{
    return truth(py::module_::import("PyQt5.sip").attr("isdeleted")(qobject));
}

bool is_alive(py::handle window)
{
    return !window.is_none() && !is_deleted(window);
}

py::object window_method(const char* name, std::vector<std::string> params,
                         std::vector<std::pair<std::string, std::string>> annotations, Body body,
                         std::string varargs, std::source_location where)
{
    FunctionSpec spec{.name = name, .qualname = std::string("Z47InstallerCenter.") + name,
                      .params = std::move(params), .varargs = std::move(varargs),
                      .annotations = std::move(annotations), .file = file_name_of(where),
                      .line = static_cast<int>(where.line())};
    return make_function(std::move(spec), std::move(body));
}

py::handle defining_class(const Call& call)
{
    PyObject* cls = PyList_GetItem(call.closure[0].ptr(), 0);  // borrowed
    if (!cls)
        throw py::error_already_set();
    return cls;
}

}  // namespace z47
