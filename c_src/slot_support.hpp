// Small helpers that every part of the window shares: truth of a Python value, weak references
// to windows and workers, the window's methods and internal callbacks, and the one way to keep
// an exception from leaving a Qt slot.
#pragma once

#include "native_function.hpp"

#include <pybind11/pybind11.h>

#include <source_location>
#include <string>
#include <utility>
#include <vector>

namespace z47 {

namespace py = pybind11;

// bool(value), with the error of a failing __bool__ raised.
bool truth(py::handle value);

// A weak reference to `object`, and the object it refers to (None once it is gone).
py::object weak(py::handle object);
py::object deref(py::handle ref);

// A Qt object whose C++ side is gone (sip.isdeleted), and a window that still exists on both
// sides: its Python object is not None and its Qt widget is not deleted.
bool is_deleted(py::handle qobject);
bool is_alive(py::handle window);

// Runs `body` from inside a Qt slot or signal handler.  An exception must not leave a slot
// (PyQt would end the whole process), so whatever `body` raises is reported on standard error
// as unraisable, naming `where`; the interpreter's own thread exit still passes through.
template <typename F>
void from_slot(py::handle where, F&& body)
{
    try {
        body();
    } catch (...) {
        set_python_error_from_current_exception();
        PyErr_WriteUnraisable(where.ptr());
    }
}

// A method of the window class named `name` ("Z47InstallerCenter.<name>"), made where its body
// is written: a failure's traceback entry points there.
py::object window_method(const char* name, std::vector<std::string> params,
                         std::vector<std::pair<std::string, std::string>> annotations, Body body,
                         std::string varargs = "",
                         std::source_location where = std::source_location::current());

// The class a method was defined in, for super(): methods that need it are made with the class
// cell (a one-element list filled once the class exists) as their closure.
py::handle defining_class(const Call& call);

// An internal callback (a click handler, a completion handler, a timer's slot): a callable
// named `name` that calls `body(args)`.  What the body needs it captures by name; windows and
// workers it captures weakly, so that a callback never keeps them alive.  A failure gets one
// traceback entry `name` at the place the body is written, as a Python closure's frame would.
template <typename F>
py::object callback(const char* name, F body, std::source_location where = std::source_location::current())
{
    return py::cpp_function(
        [name, body = std::move(body), file = file_name_of(where), line = static_cast<int>(where.line())](
            const py::args& args) -> py::object {
            try {
                body(args);
                return py::none();
            } catch (...) {
                set_python_error_from_current_exception();
            }
            add_traceback_entry(name, file, line);
            throw py::error_already_set();
        },
        py::name(name));
}

}  // namespace z47
