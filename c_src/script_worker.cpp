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
//         def start(self, *args):                       # QThread.start
//             if self.isRunning(): return super().start(*args)
//             self._ticket = script_queue.take()        # its place among all runs, in click order
//             live_workers.keep_until_finished(self)
//             super().start(*args)
//             if not self.isRunning() and not self.isFinished():   # no thread could be made
//                 script_queue.leave(self._ticket); live_workers.forget(self)
//                 raise RuntimeError("Arka plan iş parçacığı başlatılamadı; ...")
//
//         def run(self) -> None:
//             ticket = self.__dict__.pop("_ticket", None)
//             if ticket is None: ticket = script_queue.take()   # run() called directly
//             script_queue.wait_for_turn(ticket)        # one run at a time across the centre
//             try:
//                 windows = sys.platform == "win32"      # read once, before the lock is given up
//                 failed = []
//                 for script in self.scripts:
//                     if not Path(script).exists():      # looked at when reached, links followed
//                         continue
//                     if windows:                         # no script ever runs on Windows
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
//             finally:
//                 script_queue.leave(ticket)
//             self.done_signal.emit(ok, msg)
//
// Everything between reading a path and emitting (the existence test, starting bash, the wait
// of up to 45 seconds, the kill) runs with the interpreter lock released, so a worker never
// holds up the window's thread, however many run at once.
#include "script_worker.hpp"

#include "background_runs.hpp"
#include "module.hpp"
#include "native_function.hpp"
#include "process.hpp"
#include "slot_support.hpp"
#include "texts.hpp"

#include <cerrno>
#include <chrono>
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

[[noreturn]] void raise_status_lost(const std::string& path)
{
    py::str text = py::str(texts::timeout_head) + shown(path) + py::str(texts::status_lost_tail);
    PyErr_SetObject(PyExc_ChildProcessError, text.ptr());
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
//
// A run has three stretches.  With the interpreter lock it reads what it needs (the paths as
// file-system bytes, the platform); then, without the lock and without holding any Python
// object, it waits for its turn in the centre's queue and runs the scripts; then, with the lock
// again, it turns what happened into the result.  While the interpreter shuts down, taking the
// lock back ends the thread by unwinding it: nothing in the middle stretch owns a Python object
// a destructor would have to release without the lock, and no noexcept frame or destructor
// stands in the way of that unwinding (the lock is given back by plain calls, not by a guard).

// What became of one script: found out without the interpreter lock.
struct Attempt {
    int probe_error = 0;   // errno of an existence test that failed for a reason other than "missing"
    bool ran = false;      // false for a missing script and on Windows
    process::Start start{-1, 0};
    process::Ending ending{process::Ending::exited, 0};

    // An outcome that ends the run at once.
    bool ends_run() const
    {
        return probe_error != 0 || (ran && (start.error != 0 || ending.kind == process::Ending::timed_out ||
                                            ending.kind == process::Ending::lost));
    }
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

// What a run reads with the lock held.  Plain C++ data only (see above).
struct Plan {
    std::vector<std::string> paths;  // file-system bytes of the leading scripts that have them
    bool unnamed_script = false;     // a script after those has no file-system name
    bool windows = false;            // no script ever runs on Windows
};

Plan plan_of(py::handle self)
{
    Plan plan;
    for (py::handle script : py::iter(self.attr("scripts"))) {
        try {
            plan.paths.push_back(fs_bytes(script));
        } catch (py::error_already_set&) {
            plan.unnamed_script = true;  // its error is raised in its turn, after the scripts before it
            break;
        }
    }
    plan.windows = on_windows();
    return plan;
}

// Raises the error of the first script without a file-system name.
void raise_for_unnamed_script(py::handle self, std::size_t index)
{
    for (py::handle script : py::iter(self.attr("scripts")))
        if (index-- == 0)
            fs_bytes(script);
}

// Leaves the queue once, however the run ends (the interpreter's own thread exit too).
class QueuePlace {
public:
    explicit QueuePlace(script_queue::Ticket ticket) : ticket_(ticket) {}
    ~QueuePlace() { leave(); }
    QueuePlace(const QueuePlace&) = delete;
    QueuePlace& operator=(const QueuePlace&) = delete;

    script_queue::Ticket ticket() const { return ticket_; }
    void leave()
    {
        if (!left_)
            script_queue::leave(ticket_);
        left_ = true;
    }

private:
    script_queue::Ticket ticket_;
    bool left_ = false;
};

// The middle stretch: waits for the run's turn, runs the scripts in order until one ends the
// run, and leaves the queue.  `attempts` has room for every path already, so nothing here
// allocates or raises.
void run_unlocked(const std::vector<std::string>& paths, bool windows, QueuePlace& place,
                  std::vector<Attempt>& attempts)
{
    PyThreadState* state = PyEval_SaveThread();
    script_queue::wait_for_turn(place.ticket());
    for (const std::string& path : paths) {
        attempts.push_back(attempt(path, windows));
        if (attempts.back().ends_run())
            break;
    }
    place.leave();
    PyEval_RestoreThread(state);
}

// Raises the error that ended the run, if one did.
void raise_what_ended(const Attempt& a, const std::string& path)
{
    if (a.probe_error != 0)
        raise_os_error(a.probe_error, global("os").attr("fsdecode")(py::bytes(path)));
    if (!a.ran)
        return;
    if (a.start.error != 0)
        raise_os_error(a.start.error, py::str("bash"));
    if (a.ending.kind == process::Ending::timed_out)
        raise_timeout(path);
    if (a.ending.kind == process::Ending::lost)
        raise_status_lost(path);
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

// The last stretch: what happened, as the run's result.  Raises the error that ended the run.
Result result_of(py::handle self, const Plan& plan, const std::vector<Attempt>& attempts)
{
    std::vector<Failure> failed;
    for (std::size_t i = 0; i < attempts.size(); ++i) {
        const Attempt& a = attempts[i];
        raise_what_ended(a, plan.paths[i]);
        if (a.ran && (a.ending.kind != process::Ending::exited || a.ending.value != 0))
            failed.push_back({plan.paths[i], a.ending});
    }
    if (attempts.size() == plan.paths.size() && plan.unnamed_script)
        raise_for_unnamed_script(self, plan.paths.size());
    if (failed.empty())
        return {true, py::str(texts::scripts_succeeded)};
    return {false, failure_sentence(failed)};
}

// The ticket start() took for this run; a run called directly takes its own.
script_queue::Ticket ticket_of(py::handle self)
{
    py::object ticket = self.attr("__dict__").attr("pop")("_ticket", py::none());
    return ticket.is_none() ? script_queue::take() : ticket.cast<script_queue::Ticket>();
}

// The guarded block of run: whatever goes wrong becomes the run's (False, text).
Result run_once(py::handle self, QueuePlace& place)
{
    try {
        Plan plan = plan_of(self);
        std::vector<Attempt> attempts;
        attempts.reserve(plan.paths.size());
        run_unlocked(plan.paths, plan.windows, place, attempts);
        return result_of(self, plan, attempts);
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
            QueuePlace place(ticket_of(self));
            Result result = run_once(self, place);
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

py::object make_start(py::list class_cell)
{
    FunctionSpec spec{.name = "start", .qualname = "ScriptWorker.start", .params = {"self"},
                      .varargs = "args", .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        py::handle self = call[0];
        py::object base_start = super_of(call.closure[0].cast<py::list>()[0], self).attr("start");
        if (truth(self.attr("isRunning")()))
            return base_start(*call.extra);  // already running: Qt does nothing, no new place
        script_queue::Ticket ticket = script_queue::take();
        self.attr("_ticket") = ticket;
        keep_until_finished(self);
        try {
            base_start(*call.extra);
        } catch (...) {
            script_queue::leave(ticket);
            forget_worker(self);
            throw;
        }
        if (!truth(self.attr("isRunning")()) && !truth(self.attr("isFinished")())) {
            // Qt only warns when it cannot make the thread (no memory, no threads left): the
            // run would never begin, and the runs queued behind it would wait for ever.
            self.attr("__dict__").attr("pop")("_ticket", py::none());
            script_queue::leave(ticket);
            forget_worker(self);
            PyErr_SetString(PyExc_RuntimeError, texts::thread_start_failed);
            throw py::error_already_set();
        }
        return py::none();
    }, py::make_tuple(class_cell));
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
    ns["start"] = make_start(class_cell);
    ns["run"] = make_run();
    py::object cls = make_class(global("QThread"), "ScriptWorker", ns);
    class_cell[0] = cls;
    return cls;
}

}  // namespace z47
