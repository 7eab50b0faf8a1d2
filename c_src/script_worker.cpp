// ScriptWorker: the window hands it a list of script paths; on its own thread it runs each
// present script with bash, one after another, and reports one result through done_signal.
//
// As Python it would read:
//
//     class ScriptWorker(QThread):
//         """Arayüzün donmaması için kurulum betiklerini arka planda çalıştırır."""
//         done_signal = pyqtSignal(bool, str)
//
//         def __init__(self, scripts: List[Path]) -> None:
//             super().__init__()
//             self.scripts = scripts
//
//         def run(self) -> None:
//             try:
//                 failed = []
//                 for script in self.scripts:
//                     if not Path(script).exists():      # looked at when reached, links followed
//                         continue
//                     if sys.platform == "win32":         # no script ever runs on Windows
//                         continue
//                     proc = subprocess.Popen(["bash", os.fsencode(script)])
//                     try:
//                         status = proc.wait(timeout=45)
//                     except subprocess.TimeoutExpired:
//                         proc.kill(); proc.wait()
//                         raise TimeoutError(f'"bash {script}" komutu 45 saniyelik ...')
//                     if status != 0:
//                         failed.append((script, status))  # the run fails, the rest still run
//                 ok, msg = not failed, sentence_about(failed) or "İşlem başarıyla tamamlandı."
//             except BaseException as error:
//                 ok, msg = False, str(error)
//             self.done_signal.emit(ok, msg)
//
// Everything between reading a path and emitting (the existence test, starting bash, the wait
// of up to 45 seconds, the kill) runs with the interpreter lock released, so a worker never
// holds up the window's thread, however many run at once.
#include "script_worker.hpp"

#include "module.hpp"
#include "native_function.hpp"
#include "process.hpp"
#include "texts.hpp"

#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace z47 {
namespace {

// Each script gets this long, counted from its own start.
constexpr std::chrono::seconds script_time_limit{45};

// A script that ran and ended badly, as the final message names it.
struct Failure {
    std::string path;  // file-system bytes
    process::Ending ending;
};

struct Result {
    bool ok;
    py::str msg;
};

// ---- paths -----------------------------------------------------------------------------------

// The path as the bytes the system sees (os.fsencode: str, bytes and Path objects alike).
std::string fs_bytes(py::handle script)
{
    return global("os").attr("fsencode")(script).cast<std::string>();
}

// The path as readable text; bytes that do not decode are shown as \x.. escapes, never lost.
py::str shown(const std::string& path)
{
    py::bytes raw(path);
    return raw.attr("decode")(global("sys").attr("getfilesystemencoding")(), "backslashreplace");
}

// "z47-delmo/kur.sh": every tool's script has the same file name, so its folder tells them apart.
py::str short_name(const std::string& path)
{
    py::object os_path = global("os").attr("path");
    py::str text = shown(path);
    py::str name = os_path.attr("basename")(text);
    py::str folder = os_path.attr("basename")(os_path.attr("dirname")(text));
    return py::len(folder) > 0 ? py::str(folder + py::str("/") + name) : name;
}

// ---- errors ----------------------------------------------------------------------------------

// Raises the OSError subclass Python itself would, so its text reads as Python's does:
// "[Errno 2] No such file or directory: 'bash'".  Made through OSError itself rather than
// errno: on Windows the runtime and this module need not share one C runtime's errno.
[[noreturn]] void raise_os_error(int error, py::handle filename)
{
    py::object os = global("os");
    py::object exc = py::reinterpret_borrow<py::object>(PyExc_OSError)(error, os.attr("strerror")(error), filename);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.ptr())), exc.ptr());
    throw py::error_already_set();
}

[[noreturn]] void raise_timeout(const std::string& path)
{
    py::str text = py::str(texts::timeout_head) + shown(path) + py::str(texts::timeout_middle) +
                   py::str(std::to_string(script_time_limit.count())) + py::str(texts::timeout_tail);
    PyErr_SetObject(PyExc_TimeoutError, text.ptr());
    throw py::error_already_set();
}

// The text a failed run reports for an error: its message, or its kind when it has none.
py::str error_text(const py::error_already_set& error)
{
    try {
        py::str text(error.value());
        if (py::len(text) > 0)
            return text;
    } catch (py::error_already_set&) {
        // an exception whose __str__ fails still has a name worth showing
    }
    return py::str(error.type().attr("__name__"));
}

// ---- the run ---------------------------------------------------------------------------------

// What became of one script: found out in one stretch without the interpreter lock.
struct Attempt {
    int probe_error = 0;   // errno of an existence test that failed for a reason other than "missing"
    bool ran = false;      // false for a missing script and on Windows
    process::Start start{-1, 0};
    process::Ending ending{process::Ending::exited, 0};
};

// Tests the path, then starts bash and waits for it.  Touches no Python object.
Attempt attempt(const std::string& path, bool windows)
{
    Attempt result;
    int tested = process::probe(path);
    if (tested > 0)
        result.probe_error = tested;
    if (tested != 0 || windows)
        return result;
    result.ran = true;
    auto started = std::chrono::steady_clock::now();
    result.start = process::start_bash(path);
    if (result.start.error == 0)
        result.ending = process::wait_for(result.start.pid, started, script_time_limit);
    return result;
}

// Runs one script if it is there; its ending, nullopt when skipped.  Raises when the path
// cannot be tested, bash cannot start or the time runs out.
std::optional<process::Ending> run_script(const std::string& path)
{
    // sys.platform is read before the existence test, not after it, so that the lock is given
    // up once per script: every time a worker takes it back the window's thread may have to
    // wait for it, and with two dozen runs starting at once those waits add up.
    bool windows = on_windows();
    Attempt result;
    {
        py::gil_scoped_release unlocked;
        result = attempt(path, windows);
    }
    if (result.probe_error != 0)
        raise_os_error(result.probe_error, global("os").attr("fsdecode")(py::bytes(path)));
    if (!result.ran)
        return std::nullopt;
    if (result.start.error != 0)
        raise_os_error(result.start.error, py::str("bash"));
    if (result.ending.kind == process::Ending::timed_out)
        raise_timeout(path);
    return result.ending;
}

// One sentence naming every script that failed; see texts.hpp for its forms.
py::str failure_sentence(const std::vector<Failure>& failed)
{
    py::str sentence("");
    for (std::size_t i = 0; i < failed.size(); ++i) {
        const process::Ending ending = failed[i].ending;
        const bool last = i + 1 == failed.size();
        if (i > 0)
            sentence = sentence + py::str(last ? texts::failed_list_and : texts::failed_list_comma);
        sentence = sentence + short_name(failed[i].path) + py::str(texts::failed_script) +
                   py::str(std::to_string(ending.value));
        // "2 ve ... 1 çıkış koduyla": a phrase shared with the next script is said once, after it.
        if (last || failed[i + 1].ending.kind != ending.kind)
            sentence = sentence + py::str(ending.kind == process::Ending::signalled ? texts::failed_by_signal
                                                                                     : texts::failed_by_exit);
    }
    return sentence + py::str(texts::failed_end);
}

Result run_scripts(py::handle self)
{
    std::vector<Failure> failed;
    for (py::handle script : py::iter(self.attr("scripts"))) {
        std::string path = fs_bytes(script);
        std::optional<process::Ending> ending = run_script(path);
        if (ending && (ending->kind != process::Ending::exited || ending->value != 0))
            failed.push_back({std::move(path), *ending});
    }
    if (failed.empty())
        return {true, py::str(texts::scripts_succeeded)};
    return {false, failure_sentence(failed)};
}

// The guarded block of run: whatever goes wrong becomes the run's (False, text).
Result guarded_run(py::handle self)
{
    try {
        return run_scripts(self);
    } catch (py::error_already_set& error) {
        return {false, error_text(error)};
    } catch (std::exception& error) {
        return {false, py::str(error.what())};
    }
}

py::object make_run()
{
    FunctionSpec spec{.name = "run", .qualname = "ScriptWorker.run", .params = {"self"},
                      .annotations = {{"return", "None"}}, .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        // Nothing may leave run: PyQt ends the whole process when a reimplemented virtual
        // raises.  An emit that itself fails is reported on stderr as unraisable.
        py::handle self = call[0];
        try {
            Result result = guarded_run(self);
            self.attr("done_signal").attr("emit")(result.ok, result.msg);
        } catch (py::error_already_set& error) {
            error.discard_as_unraisable("ScriptWorker.run");
        } catch (...) {
            set_python_error_from_current_exception();
            PyErr_WriteUnraisable(self.ptr());
        }
        return py::none();
    });
}

py::object make_init(py::list class_cell)
{
    FunctionSpec spec{.name = "__init__", .qualname = "ScriptWorker.__init__", .params = {"self", "scripts"},
                      .annotations = {{"scripts", "List[Path]"}, {"return", "None"}},
                      .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        py::handle self = call[0];
        super_of(call.closure[0].cast<py::list>()[0], self).attr("__init__")();
        self.attr("scripts") = call[1];  // the caller's list itself, not a copy
        return py::none();
    }, py::make_tuple(class_cell));
}

}  // namespace

py::object make_script_worker_class()
{
    py::list class_cell(1);  // filled once the class exists, for super() in __init__
    py::dict ns;
    ns["__module__"] = module_name;
    ns["__qualname__"] = "ScriptWorker";
    ns["__doc__"] = texts::worker_doc;
    ns["done_signal"] = global("pyqtSignal")(py::module_::import("builtins").attr("bool"),
                                             py::module_::import("builtins").attr("str"));
    ns["__init__"] = make_init(class_cell);
    ns["run"] = make_run();
    py::object cls = make_class(global("QThread"), "ScriptWorker", ns);
    class_cell[0] = cls;
    return cls;
}

}  // namespace z47
