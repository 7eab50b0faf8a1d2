// Z47_Kurulum_Merkezi: the installer centre, as a Python extension module.
//
// Importing it runs, once per process, what a Python module of this shape would run:
//
//     import os, subprocess, sys
//     from pathlib import Path
//     from typing import Callable, List
//     os.environ.setdefault("QT_AUTO_SCREEN_SCALE_FACTOR", "1")
//     os.environ.setdefault("QT_ENABLE_HIGHDPI_SCALING", "1")
//     CREDITS_LINE = "..."
//     BASE_Z47_DIR = own_folder()          # Path(__file__).resolve().parent, below
//     if str(BASE_Z47_DIR) not in sys.path: sys.path.insert(0, str(BASE_Z47_DIR))
//     from PyQt5.QtCore import Qt, QThread, pyqtSignal
//     from PyQt5.QtGui import QFont, QIcon
//     from PyQt5.QtWidgets import QApplication, QFrame, ...
//     PY_EXEC = sys.executable or "python3"
//     PROGRAMS = [...]                      # catalogue.cpp
//     def clean_font(size_pt: int) -> QFont  # styles.cpp
//     class ScriptWorker(QThread)            # script_worker.cpp
//     class Z47InstallerCenter(QMainWindow)  # main_window.cpp
//     def main() -> None                    # below; SIGINT, SIGTERM, SIGHUP close the window
//
// The module object is made once per process and handed out again on a later import; every
// name above lives in the module dictionary and is looked up there whenever it is used.
#include <Python.h>

#include "background_runs.hpp"
#include "catalogue.hpp"
#include "main_window.hpp"
#include "module.hpp"
#include "native_function.hpp"
#include "script_worker.hpp"
#include "slot_support.hpp"
#include "stop_signals.hpp"
#include "styles.hpp"
#include "texts.hpp"

#include <cstdint>
#include <cstdio>
#include <source_location>
#include <string>

namespace z47 {
namespace {

// The interpreter that first created the module; the module serves no other.
int64_t owner_interpreter = -1;
// The module object, remembered by the exec step from its start until it fails.
PyObject* remembered_module = nullptr;
// Set once the exec step has run to its end.
bool executed = false;
// Counts the exec step's runs; the functions of the current one may run.
int import_attempt = 0;

const std::string module_doc =
    std::string(texts::module_doc_head) + texts::credits_line + "\n" + texts::module_doc_tail;

// ---- create step ---------------------------------------------------------------------------

// Copies spec.<from> to module.__dict__[<to>]; a missing attribute is skipped.
int copy_spec_attr(PyObject* spec, PyObject* dict, const char* from, const char* to, bool skip_none)
{
    PyObject* value = PyObject_GetAttrString(spec, from);
    if (!value) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError))
            return -1;
        PyErr_Clear();
        return 0;
    }
    int rc = (skip_none && value == Py_None) ? 0 : PyDict_SetItemString(dict, to, value);
    Py_DECREF(value);
    return rc;
}

PyObject* module_create(PyObject* spec, PyModuleDef* /*def*/)
{
    int64_t current = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (owner_interpreter == -1) {
        owner_interpreter = current;
    } else if (current != owner_interpreter) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (remembered_module)
        return Py_NewRef(remembered_module);

    PyObject* name = PyObject_GetAttrString(spec, "name");
    if (!name)
        return nullptr;
    PyObject* module = PyModule_NewObject(name);
    Py_DECREF(name);
    if (!module)
        return nullptr;
    PyObject* dict = PyModule_GetDict(module);
    if (copy_spec_attr(spec, dict, "loader", "__loader__", false) < 0 ||
        copy_spec_attr(spec, dict, "origin", "__file__", false) < 0 ||
        copy_spec_attr(spec, dict, "parent", "__package__", false) < 0 ||
        copy_spec_attr(spec, dict, "submodule_search_locations", "__path__", true) < 0) {
        Py_DECREF(module);
        return nullptr;
    }
    return module;
}

// ---- exec step -----------------------------------------------------------------------------

// How far a sequence of statements has got: each statement first marks its line, so that a
// failure's traceback entry names the statement that failed, as a Python frame's line would.
struct Progress {
    int line;
    void mark(std::source_location where = std::source_location::current())
    {
        line = static_cast<int>(where.line());
    }
};

// The module's folder, resolved as Path(__file__).resolve().parent.  A path the system cannot
// resolve (on Windows, a folder deeper than the system's own path buffers, where resolving fails
// with "More data is available") is taken as it is, made absolute: the module's own start must
// not be what fails in a deep folder.
py::object own_folder(py::handle file)
{
    py::object path = global("Path")(file);
    try {
        return path.attr("resolve")().attr("parent");
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_OSError))
            throw;
        return path.attr("absolute")().attr("parent");
    }
}

void warn_on_version_mismatch()
{
    py::object info = py::module_::import("sys").attr("version_info");
    int major = info.attr("major").cast<int>();
    int minor = info.attr("minor").cast<int>();
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION)
        return;
    if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                         "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                         PY_MAJOR_VERSION, PY_MINOR_VERSION, module_name, "does not match", major, minor) < 0)
        throw py::error_already_set();
}

void import_names(py::dict d, const char* from, std::initializer_list<const char*> names)
{
    py::module_ source = py::module_::import(from);
    for (const char* name : names)
        d[name] = source.attr(name);
}

py::object make_main();

// The module's body, statement by statement as the sketch at the top of this file has it.
void run_module_body(py::dict d, Progress& at)
{
    at.mark(); warn_on_version_mismatch();
    at.mark(); d["os"] = py::module_::import("os");
    at.mark(); d["subprocess"] = py::module_::import("subprocess");
    at.mark(); d["sys"] = py::module_::import("sys");
    at.mark(); import_names(d, "pathlib", {"Path"});
    at.mark(); import_names(d, "typing", {"Callable", "List"});

    // Qt reads these when the application is created, so they must be in place first.
    at.mark(); global("os").attr("environ").attr("setdefault")("QT_AUTO_SCREEN_SCALE_FACTOR", "1");
    at.mark(); global("os").attr("environ").attr("setdefault")("QT_ENABLE_HIGHDPI_SCALING", "1");

    at.mark(); d["CREDITS_LINE"] = texts::credits_line;
    at.mark(); d["BASE_Z47_DIR"] = own_folder(d["__file__"]);
    at.mark(); {
        py::str base(global("BASE_Z47_DIR"));
        py::list path = global("sys").attr("path");
        if (!path.contains(base))
            path.insert(0, base);
    }

    at.mark(); import_names(d, "PyQt5.QtCore", {"Qt", "QThread", "pyqtSignal"});
    at.mark(); import_names(d, "PyQt5.QtGui", {"QFont", "QIcon"});
    at.mark(); import_names(d, "PyQt5.QtWidgets",
                            {"QApplication", "QFrame", "QHBoxLayout", "QLabel", "QMainWindow", "QMessageBox",
                             "QPushButton", "QScrollArea", "QVBoxLayout", "QWidget"});

    at.mark(); {
        py::object executable = global("sys").attr("executable");
        d["PY_EXEC"] = truth(executable) ? executable : py::str("python3");
    }
    at.mark(); d["PROGRAMS"] = build_programs();

    at.mark(); d["clean_font"] = make_clean_font();
    at.mark(); d["ScriptWorker"] = make_script_worker_class();
    at.mark(); d["Z47InstallerCenter"] = make_installer_center_class();
    at.mark(); d["main"] = make_main();
    // Whoever ends the process, scripts that are running are allowed to finish first.
    at.mark(); py::module_::import("atexit").attr("register")(make_exit_wait());

    // A Python module's "if __name__ == '__main__': main()".  An extension module is never run
    // as a script (python -m runs only Python source), so under every import the name is
    // "Z47_Kurulum_Merkezi" and this never calls main; it stays for the module's shape.
    at.mark(); if (py::str(d["__name__"]).equal(py::str("__main__"))) global("main")();
}

int module_exec(PyObject* module)
{
    if (executed) {
        if (module == remembered_module)
            return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'Z47_Kurulum_Merkezi' has already been imported. Re-initialisation is "
                        "not supported.");
        return -1;
    }
    Py_XSETREF(remembered_module, Py_NewRef(module));
    ++import_attempt;
    Progress at{__LINE__};
    try {
        run_module_body(py::reinterpret_borrow<py::dict>(PyModule_GetDict(module)), at);
        executed = true;
        return 0;
    } catch (...) {
        set_python_error_from_current_exception();
    }
    if (!PyErr_Occurred())
        PyErr_SetString(PyExc_ImportError, "init Z47_Kurulum_Merkezi");
    add_traceback_entry("init Z47_Kurulum_Merkezi", __FILE_NAME__, at.line);
    Py_CLEAR(remembered_module);  // a later import starts again from scratch
    return -1;
}

// ---- main ----------------------------------------------------------------------------------

// The screen's own scale factor, unrounded.  Qt 5 rounds it by default, so a 150 % display
// (144 DPI) draws the window at 200 %, larger than many such screens.  A factor just off a
// whole number (an X server that reports its physical DPI, 100 for Xvfb, 109 for a 27-inch
// 2560 x 1440 monitor) is passed through as well: the whole window then scales evenly, while a
// factor rounded to 1 leaves the screen's DPI to the text alone, which outgrows the layout's
// fixed sizes (the second card's description is cut at 100 DPI).  Must precede the
// application object.
void pass_scale_factors_through(py::handle QApplication, py::handle Qt)
{
    QApplication.attr("setHighDpiScaleFactorRoundingPolicy")(
        Qt.attr("HighDpiScaleFactorRoundingPolicy").attr("PassThrough"));
}

// The name the desktop and assistive technologies know the centre by (not "python3" or
// "-c"), and its menu entry on Linux.  The display name is left unset: Qt would append it to
// the title of every window and box.
void name_the_application(py::handle app)
{
    app.attr("setApplicationName")(texts::application_name);
    app.attr("setDesktopFileName")(texts::desktop_file_name);
}

// Qt's own Turkish texts for its standard buttons and dialogs ("Tamam", "Evet", "Hayır"),
// whatever the system's language: every text of the centre is Turkish.  The Windows package
// ships qtbase_tr.qm in the translations folder of PyQt5's own Qt, found from PyQt5's
// location: Qt's own idea of that folder passes through the ANSI code page on Windows, which
// loses letters such as "ş" from a user's folder name.  Elsewhere (Debian's
// qttranslations5-l10n) the system's Qt knows its folder.  Where the file is missing the
// buttons stay in English; nothing else depends on it.
py::object load_qt_translation(py::handle app)
{
    py::module_ core = py::module_::import("PyQt5.QtCore");
    py::object os_path = global("os").attr("path");
    py::object pyqt_dir = os_path.attr("dirname")(py::module_::import("PyQt5").attr("__file__"));
    py::list folders;
    folders.append(os_path.attr("join")(pyqt_dir, "Qt5", "translations"));
    folders.append(core.attr("QLibraryInfo").attr("location")(core.attr("QLibraryInfo").attr("TranslationsPath")));
    py::object translator = core.attr("QTranslator")();
    for (py::handle folder : folders) {
        if (truth(translator.attr("load")("qtbase_tr", folder))) {
            app.attr("installTranslator")(translator);
            break;
        }
    }
    return translator;
}

py::object make_main()
{
    FunctionSpec spec{.name = "main", .qualname = "main", .annotations = {{"return", "None"}},
                      .file = __FILE_NAME__, .line = __LINE__,
                      .traceback_name = "Z47_Kurulum_Merkezi.main"};
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        Progress at{call.line};
        try {
            at.mark(); py::object QApplication = global("QApplication");
            at.mark(); py::object Qt = global("Qt");
            at.mark(); QApplication.attr("setAttribute")(Qt.attr("AA_EnableHighDpiScaling"), true);
            at.mark(); QApplication.attr("setAttribute")(Qt.attr("AA_UseHighDpiPixmaps"), true);
            at.mark(); pass_scale_factors_through(QApplication, Qt);
            at.mark(); py::object app = QApplication(global("sys").attr("argv"));
            at.mark(); name_the_application(app);
            at.mark(); py::object translator = load_qt_translation(app);  // kept until main ends
            at.mark(); app.attr("setFont")(global("QFont")("Roboto", 10, global("QFont").attr("Bold")));
            at.mark(); py::object win = global("Z47InstallerCenter")();
            at.mark(); win.attr("show")();
            at.mark(); CloseOnSignals closing_on_signals;  // until the scripts have ended (stop_signals.hpp)
            at.mark(); py::object code = app.attr("exec_")();
            at.mark(); finish_running_scripts();
            at.mark(); global("sys").attr("exit")(code);
        } catch (...) {
            call.line = at.line;  // the traceback entry names the statement that failed
            throw;
        }
        return py::none();
    });
}

// ---- module definition ---------------------------------------------------------------------

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    module_name,
    module_doc.c_str(),
    0,        // no per-module state: everything lives in the module dictionary
    nullptr,  // no method table: the functions are attributes made by the exec step
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

py::dict module_dict()
{
    if (!remembered_module) {
        PyErr_Format(PyExc_RuntimeError, "%s is not imported", module_name);
        throw py::error_already_set();
    }
    return py::reinterpret_borrow<py::dict>(PyModule_GetDict(remembered_module));
}

int current_import_attempt() { return import_attempt; }

bool import_is_live(int attempt) { return remembered_module != nullptr && attempt == import_attempt; }

py::object global(const char* name)
{
    py::dict d = module_dict();
    PyObject* value = PyDict_GetItemString(d.ptr(), name);
    if (!value) {
        PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
        throw py::error_already_set();
    }
    return py::reinterpret_borrow<py::object>(value);
}

bool on_windows()
{
    py::object platform = global("sys").attr("platform");
    return platform.equal(py::str("win32"));
}

}  // namespace z47

// PyMODINIT_FUNC: extern "C", exported (dllexport on Windows, default visibility elsewhere).
PyMODINIT_FUNC PyInit_Z47_Kurulum_Merkezi()
{
    return PyModuleDef_Init(&z47::module_def);
}
