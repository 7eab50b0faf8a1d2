// The native function type: see native_function.hpp for what it promises.
#include "native_function.hpp"

#include "module.hpp"
#include "python_versions.hpp"

#include <Python.h>
#include <frameobject.h>
#include <structmember.h>

#include <cxxabi.h>

#include <exception>
#include <new>
#include <string_view>

namespace z47 {
namespace {

struct Impl {
    FunctionSpec spec;
    Body body;
    int import_attempt;  // the import of the module that made the function
};

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    PyObject* dict;         // the instance __dict__: __name__, __qualname__, __doc__, ...
    PyObject* closure;      // tuple handed to every call
    PyObject* weakreflist;
    Impl* impl;
};

FunctionObject* as_function(PyObject* self) { return reinterpret_cast<FunctionObject*>(self); }

std::string qualname_of(const FunctionObject* f) { return f->impl->spec.qualname; }

// Binds positional and keyword arguments to the declared parameters with Python's own rules
// and wording.  Returns false with a TypeError set when they do not fit.
bool bind_arguments(const FunctionObject* f, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, Call& call)
{
    const FunctionSpec& spec = f->impl->spec;
    const std::size_t nparams = spec.params.size();
    const std::string who = qualname_of(f) + "()";
    call.params.assign(nparams, py::handle());

    const std::size_t npos = static_cast<std::size_t>(nargs);
    if (npos > nparams && spec.varargs.empty()) {
        PyErr_Format(PyExc_TypeError, "%s takes %zu positional argument%s but %zd %s given",
                     who.c_str(), nparams, nparams == 1 ? "" : "s", nargs, nargs == 1 ? "was" : "were");
        return false;
    }
    const std::size_t bound = npos < nparams ? npos : nparams;
    for (std::size_t i = 0; i < bound; ++i)
        call.params[i] = args[i];
    if (!spec.varargs.empty()) {
        call.extra = py::tuple(npos - bound);
        for (std::size_t i = bound; i < npos; ++i)
            call.extra[i - bound] = py::reinterpret_borrow<py::object>(args[i]);
    }

    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        Py_ssize_t len = 0;
        const char* text = PyUnicode_AsUTF8AndSize(key, &len);
        if (!text)
            return false;
        const std::string_view keyword(text, static_cast<std::size_t>(len));
        std::size_t i = 0;
        while (i < nparams && spec.params[i] != keyword)
            ++i;
        if (i == nparams) {
            PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%U'", who.c_str(), key);
            return false;
        }
        if (call.params[i]) {
            PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%U'", who.c_str(), key);
            return false;
        }
        call.params[i] = args[nargs + k];
    }

    std::vector<std::string> missing;
    for (std::size_t i = 0; i < nparams; ++i)
        if (!call.params[i])
            missing.push_back("'" + spec.params[i] + "'");
    if (!missing.empty()) {
        std::string names;
        for (std::size_t i = 0; i < missing.size(); ++i) {
            if (i > 0)
                names += (i + 1 == missing.size()) ? (missing.size() > 2 ? ", and " : " and ") : ", ";
            names += missing[i];
        }
        PyErr_Format(PyExc_TypeError, "%s missing %zu required positional argument%s: %s", who.c_str(),
                     missing.size(), missing.size() == 1 ? "" : "s", names.c_str());
        return false;
    }
    return true;
}

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames)
{
    FunctionObject* f = as_function(self);
    if (!import_is_live(f->impl->import_attempt)) {
        // Kept from an import that failed: the module it would look its names up in is gone.
        PyErr_Format(PyExc_RuntimeError,
                     "%s() belongs to an import of %s that failed; import the module again",
                     f->impl->spec.qualname.c_str(), module_name);
        return nullptr;
    }
    Call call;
    call.line = f->impl->spec.line;
    bool bound = false;
    try {
        if (!bind_arguments(f, args, PyVectorcall_NARGS(nargsf), kwnames, call))
            return nullptr;  // like Python: an argument error has no frame of the function's own
        bound = true;
        call.closure = py::reinterpret_borrow<py::tuple>(f->closure);
        py::object result = f->impl->body(call);
        return result ? result.release().ptr() : py::none().release().ptr();
    } catch (...) {
        set_python_error_from_current_exception();
    }
    if (!bound)
        return nullptr;
    // The frame entry also tells PyQt that a TypeError came from inside the slot, so it does
    // not retry the call with fewer arguments.
    const FunctionSpec& spec = f->impl->spec;
    const std::string& where = spec.traceback_name.empty() ? spec.qualname : spec.traceback_name;
    add_traceback_entry(where.c_str(), spec.file, call.line);
    return nullptr;
}

PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject* /*type*/)
{
    if (obj == nullptr || obj == Py_None)
        return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

PyObject* function_repr(PyObject* self)
{
    return PyUnicode_FromFormat("<function %s at %p>", as_function(self)->impl->spec.qualname.c_str(), self);
}

int function_traverse(PyObject* self, visitproc visit, void* arg)
{
    FunctionObject* f = as_function(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->dict);
    Py_VISIT(f->closure);
    return 0;
}

int function_clear(PyObject* self)
{
    FunctionObject* f = as_function(self);
    Py_CLEAR(f->dict);
    Py_CLEAR(f->closure);
    return 0;
}

void function_dealloc(PyObject* self)
{
    FunctionObject* f = as_function(self);
    PyObject_GC_UnTrack(self);
    if (f->weakreflist)
        PyObject_ClearWeakRefs(self);
    function_clear(self);
    delete f->impl;
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyGetSetDef function_getset[] = {
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__weaklistoffset__", T_PYSSIZET, offsetof(FunctionObject, weakreflist), READONLY, nullptr},
    {"__dictoffset__", T_PYSSIZET, offsetof(FunctionObject, dict), READONLY, nullptr},
    {"__vectorcalloffset__", T_PYSSIZET, offsetof(FunctionObject, vectorcall), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot function_slots[] = {
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(function_descr_get)},
    {Py_tp_repr, reinterpret_cast<void*>(function_repr)},
    {Py_tp_traverse, reinterpret_cast<void*>(function_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(function_clear)},
    {Py_tp_dealloc, reinterpret_cast<void*>(function_dealloc)},
    {Py_tp_getset, function_getset},
    {Py_tp_members, function_members},
    {0, nullptr},
};

PyType_Spec function_spec = {
    "Z47_Kurulum_Merkezi.function",
    sizeof(FunctionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_METHOD_DESCRIPTOR |
        Py_TPFLAGS_DISALLOW_INSTANTIATION,
    function_slots,
};

// The type lives as long as the process, like the module that uses it.
PyTypeObject* function_type = nullptr;

py::dict annotations_of(const FunctionSpec& spec)
{
    py::dict out;
    for (const auto& [name, text] : spec.annotations)
        out[py::str(name)] = py::str(text);
    return out;
}

}  // namespace

void ready_function_type()
{
    if (function_type)
        return;
    PyObject* type = PyType_FromSpec(&function_spec);
    if (!type)
        throw py::error_already_set();
    function_type = reinterpret_cast<PyTypeObject*>(type);
}

py::object make_function(FunctionSpec spec, Body body, py::tuple closure)
{
    ready_function_type();
    py::dict dict;
    dict["__name__"] = py::str(spec.name);
    dict["__qualname__"] = py::str(spec.qualname);
    dict["__module__"] = py::str("Z47_Kurulum_Merkezi");
    dict["__doc__"] = py::none();  // the module's functions carry no documentation string
    dict["__annotations__"] = annotations_of(spec);

    FunctionObject* f = PyObject_GC_New(FunctionObject, function_type);
    if (!f)
        throw py::error_already_set();
    f->vectorcall = function_vectorcall;
    f->dict = dict.release().ptr();
    f->closure = closure.release().ptr();
    f->weakreflist = nullptr;
    f->impl = new (std::nothrow) Impl{std::move(spec), std::move(body), current_import_attempt()};
    py::object result = py::reinterpret_steal<py::object>(reinterpret_cast<PyObject*>(f));
    if (!f->impl)
        throw std::bad_alloc();
    PyObject_GC_Track(f);
    return result;
}

py::object make_class(py::handle base, const char* name, py::dict ns)
{
    py::handle metatype = reinterpret_cast<PyObject*>(Py_TYPE(base.ptr()));
    return metatype(py::str(name), py::make_tuple(base), ns);
}

py::object super_of(py::handle cls, py::handle self)
{
    PyObject* view = PyObject_CallFunctionObjArgs(reinterpret_cast<PyObject*>(&PySuper_Type), cls.ptr(),
                                                  self.ptr(), nullptr);
    if (!view)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(view);
}

const char* file_name_of(const std::source_location& where)
{
    const std::string_view path = where.file_name();
    const std::size_t slash = path.find_last_of("/\\");
    return where.file_name() + (slash == std::string_view::npos ? 0 : slash + 1);
}

void add_traceback_entry(const char* function, const char* file, int line)
{
    // The frame is a real one, made from public calls: an empty code object named for the
    // function whose first line is `line` (a frame that has not started reports that line).
    // Nothing may run with the exception pending: decoding the file name can run Python code.
    PyFrameObject* frame = nullptr;
    {
        python_versions::SetAsidePendingError pending;
        PyObject* globals = PyDict_New();
        PyCodeObject* code = globals ? PyCode_NewEmpty(file, function, line) : nullptr;
        if (code)
            frame = PyFrame_New(PyThreadState_Get(), code, globals, nullptr);
        Py_XDECREF(code);
        Py_XDECREF(globals);
        // Out of memory for the entry: the caller's exception matters, not this one.
        PyErr_Clear();
    }
    if (frame) {
        PyTraceBack_Here(frame);
        Py_DECREF(frame);
    }
}

void set_python_error_from_current_exception()
{
    try {
        throw;
    } catch (abi::__forced_unwind&) {
        // Not an error: the runtime is ending this thread (a thread that wants the interpreter
        // back while it shuts down).  The unwinding must go on, or the process aborts.
        throw;
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (py::builtin_exception& e) {  // before std::exception: it derives from it
        e.set_error();
    } catch (std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (std::exception& e) {
        PyErr_SetString(PyExc_RuntimeError, e.what());
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "unknown C++ exception in Z47_Kurulum_Merkezi");
    }
}

}  // namespace z47
