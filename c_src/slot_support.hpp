// Small helpers that every part of the window shares: truth of a Python value, weak references
// to windows and workers, and the one way to keep an exception from leaving a Qt slot.
#pragma once

#include "native_function.hpp"

#include <pybind11/pybind11.h>

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

// A window that still exists on both sides: its Python object and its Qt widget.
bool is_alive(py::handle window);

// str(value) as the Python text it is, never through a C++ string: a path that is not valid
// UTF-8 (kept by Python as lone surrogates) reaches a label or a box as the file system named it.
py::str text_of(py::handle value);

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

// A completion callback of one of a window's runs: a function `qualname` taking `params`, that
// holds the window weakly (it must not keep a closed window alive) and, on the GUI thread,
// calls `body(window, call)` with the window looked up once: None when it is gone.
// call.closure[0] is the window's weak reference; `extra` follows it.
template <typename F>
py::object window_callback(const char* qualname, std::vector<std::string> params, py::handle window,
                           py::tuple extra, F body)
{
    std::string name(qualname);
    FunctionSpec spec{.name = name.substr(name.rfind('.') + 1), .qualname = std::move(name),
                      .params = std::move(params), .file = __FILE_NAME__, .line = __LINE__};
    py::tuple closure(py::len(extra) + 1);
    closure[0] = weak(window);
    for (std::size_t i = 0; i < py::len(extra); ++i)
        closure[i + 1] = extra[i];
    return make_function(std::move(spec), [body](const Call& call) -> py::object {
        body(deref(call.closure[0]), call);
        return py::none();
    }, closure);
}

}  // namespace z47
