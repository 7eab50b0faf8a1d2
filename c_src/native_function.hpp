// A native callable that behaves like a Python function.
//
// The module's functions and methods are objects of this type.  Seen from Python they act as
// `def` functions do:
//
//     f.__name__, f.__qualname__, f.__module__, f.__doc__, f.__annotations__   (all writable)
//     f.__get__(obj, cls)   -> a bound method (types.MethodType), so they work in classes
//     staticmethod(f)       -> works as for any callable
//     f(a, b=...)           -> parameters by position or by name; optional *args catch-all
//
// The body is C++.  It receives the bound parameters in declaration order; a body that fails
// gets one traceback entry under the function's qualified name, as a Python frame would.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <source_location>
#include <string>
#include <utility>
#include <vector>

namespace z47 {

namespace py = pybind11;

// The values one call hands to a body.
struct Call {
    std::vector<py::handle> params;  // one per declared parameter, in order (borrowed)
    py::tuple extra;                 // the *args catch-all; empty when the function has none
    py::tuple closure;               // values the function was made with (see FunctionSpec)
    mutable int line;                // source line reported if the body fails; bodies may update it

    py::handle operator[](std::size_t i) const { return params[i]; }
};

using Body = std::function<py::object(const Call&)>;

struct FunctionSpec {
    std::string name;
    std::string qualname;
    std::vector<std::string> params;  // positional-or-keyword parameters
    std::string varargs;              // name of the *args catch-all, empty for none
    // Annotations as they appear in __annotations__ ("return" last), each stored as text.
    std::vector<std::pair<std::string, std::string>> annotations;
    const char* file = "";            // where the body lives, for tracebacks
    int line = 0;
    std::string traceback_name;       // name of its traceback entry; the qualname when empty
};

// The file name (without its folder) and line of `where`, for a traceback entry.
const char* file_name_of(const std::source_location& where);

// Makes a new function object.  `closure` is kept by the object (and seen by the garbage
// collector), so a body should take the Python values it needs from there rather than
// capturing them in the lambda.
py::object make_function(FunctionSpec spec, Body body, py::tuple closure = py::tuple());

// Makes a class the way a `class` statement does: type(base)(name, (base,), namespace).  The
// namespace should hold __module__ and __qualname__; PyQt's metaclass then turns the
// pyqtSignal attributes into signals.
py::object make_class(py::handle base, const char* name, py::dict ns);

// super(cls, self): the base-class view a method uses to reach the inherited implementation.
py::object super_of(py::handle cls, py::handle self);

// Registers the function type; make_function does it the first time it is called.
void ready_function_type();

// Adds a traceback entry `function` at `file`:`line` to the pending exception, as a Python
// frame that the exception passes through would.
void add_traceback_entry(const char* function, const char* file, int line);

// Converts the C++ exception being handled into a pending Python error.  Call only from
// inside a catch block.
void set_python_error_from_current_exception();

}  // namespace z47
