// ScriptWorker: the window hands it a list of script paths; on its own thread it runs each
// present script with bash, one after another, and reports one result through done_signal.
//
// As Python it would read:
//
//     class ScriptWorker(QThread):
//         """Arayüzün donmaması için kurulum betiklerini arka planda çalıştırır."""
//         done_signal = pyqtSignal(bool, str)
//         _turn_signal = pyqtSignal()                   # a queued run's turn has come
//
//         def __init__(self, scripts: List[Path]) -> None:
//             super().__init__()
//             self.scripts = scripts
//
//         def start(self, *args):                       # QThread.start, at the click
//             if self.isRunning(): return super().start(*args)
//             self._plan = plan(self.scripts, note_present=True)   # paths and what is there now
//             self._ticket = script_queue.take()        # its place among all runs, in click order
//             live_workers.keep_until_finished(self)
//             super().start(*args)
//             if not self.isRunning() and not self.isFinished():   # no thread could be made
//                 script_queue.leave(self._ticket); live_workers.forget(self)
//                 raise RuntimeError("Arka plan iş parçacığı başlatılamadı; ...")
//
//         def run(self) -> None:
//             plan = self.__dict__.pop("_plan", None) or plan(self.scripts)
//             ticket = self.__dict__.pop("_ticket", None) or script_queue.take()
//             if script_queue.wait_for_turn(ticket):    # one run at a time across the centre
//                 self._turn_signal.emit()              # it waited: its text is shown again
//             outcomes = []                             # one per script reached, plain values
//             for script in plan.scripts:
//                 outcomes.append(attempt(script, plan.windows))   # test, bash, wait <= 45 s
//                 if outcomes[-1].ends_run: break       # unreadable, no bash, time-out, ...
//             ok, msg = result_of(outcomes)             # every failure, then what ended the run
//             self.done_signal.emit(ok, msg)
//             script_queue.leave(ticket)                # only now: results come in click order
//
// A script that was there at the click and is gone at its turn is a failure of the run; one
// that was never there is skipped.  Every script that ran and ended badly (a non-zero status,
// a signal) is named in the result; a failed start, the time-out or an unreadable path ends
// the run at once and is named last.
//
// Everything between planning and the result (the existence test, starting bash, the wait of
// up to 45 seconds, the kill) runs with the interpreter lock released, so a worker never holds
// up the window's thread, however many run at once.
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

// A text kept as UTF-8 while the run holds no Python object, exactly as it was (surrogates
// included), and made a Python text again afterwards.
std::string kept_text(py::handle text)
{
    return py::str(text).attr("encode")("utf-8", "surrogatepass").cast<std::string>();
}

py::str text_again(const std::string& kept)
{
    return py::bytes(kept).attr("decode")("utf-8", "surrogatepass");
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

// ---- the plan: what a run reads first, with the interpreter lock ---------------------------

struct Script {
    std::string path;       // file-system bytes
    std::string no_name;    // instead of a path: why the script has none (kept_text)
    bool expected = false;  // something was at the path when the run was asked for
};

// Plain C++ data only (see "the run" below).
struct Plan {
    std::vector<Script> scripts;  // up to the first without a file-system name, included
    bool windows = false;         // no script ever runs on Windows
};

// The scripts' paths, converted once.  With `note_present` (at the click) it also notes which
// of them are there, so that one gone by its turn is known to be lost rather than absent.
Plan plan_of(py::handle self, bool note_present)
{
    Plan plan;
    for (py::handle script : py::iter(self.attr("scripts"))) {
        Script entry;
        try {
            entry.path = fs_bytes(script);
        } catch (py::error_already_set& error) {
            entry.no_name = kept_text(error_text(error));  // reported in its turn, after those before it
            plan.scripts.push_back(std::move(entry));
            break;
        }
        entry.expected = note_present && process::probe(entry.path) == 0;
        plan.scripts.push_back(std::move(entry));
    }
    plan.windows = on_windows();
    return plan;
}

// The plan start() made at the click, held by the worker until its run takes it.
py::object plan_capsule(Plan plan)
{
    return py::capsule(new Plan(std::move(plan)), [](void* held) { delete static_cast<Plan*>(held); });
}

Plan plan_for_run(py::handle self)
{
    py::object held = self.attr("__dict__").attr("pop")("_plan", py::none());
    if (held.is_none())
        return plan_of(self, false);  // run() called directly: nothing was noted at a click
    return std::move(*held.cast<py::capsule>().get_pointer<Plan>());
}

// ---- the run ---------------------------------------------------------------------------------
//
// A run has three stretches.  With the interpreter lock it takes its plan; then, without the
// lock and without holding any Python object, it waits for its turn in the centre's queue and
// runs the scripts; then, with the lock again, it turns the outcomes into the result.  While
// the interpreter shuts down, taking the lock back ends the thread by unwinding it: nothing in
// the middle stretch owns a Python object a destructor would have to release without the lock,
// and no noexcept frame or destructor stands in the way of that unwinding (the lock is given
// back by plain calls, not by a guard).

// What became of one script, found out without the interpreter lock.
struct Outcome {
    enum Kind {
        skipped,      // not there (and not expected), or on Windows: nothing ran
        succeeded,    // ran and exited with status 0
        ended_badly,  // ran and exited with another status, or was killed by a signal
        vanished,     // there at the click, gone at its turn
        // The outcomes that end the run at once:
        unreadable,   // the existence test failed (`error`)
        not_started,  // bash could not be started (`error`)
        timed_out,    // still running at the time limit: bash was killed
        status_lost,  // it ended, but how could not be read
        unnamed,      // the script has no file-system name
    } kind = skipped;
    process::Ending ending{process::Ending::exited, 0};
    int error = 0;

    bool ends_run() const { return kind >= unreadable; }
};

// Tests the path, then starts bash and waits for it.  Touches no Python object.
Outcome attempt(const Script& script, bool windows)
{
    if (!script.no_name.empty())
        return {Outcome::unnamed};
    int tested = process::probe(script.path);
    if (tested > 0)
        return {Outcome::unreadable, {}, tested};
    if (windows)
        return {Outcome::skipped};
    if (tested < 0)
        return {script.expected ? Outcome::vanished : Outcome::skipped};
    auto started = std::chrono::steady_clock::now();
    process::Start start = process::start_bash(script.path);
    if (start.error != 0)
        return {Outcome::not_started, {}, start.error};
    process::Ending ending = process::wait_for(start.pid, started, script_time_limit);
    switch (ending.kind) {
    case process::Ending::timed_out:
        return {Outcome::timed_out};
    case process::Ending::lost:
        return {Outcome::status_lost};
    case process::Ending::exited:
        if (ending.value == 0)
            return {Outcome::succeeded};
        break;
    case process::Ending::signalled:
        break;
    }
    return {Outcome::ended_badly, ending};
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

// Tells the window that a run which had to wait has its turn now.  A notice that cannot be
// sent changes nothing about the run, so it is only reported.
void announce_turn(py::handle self)
{
    try {
        self.attr("_turn_signal").attr("emit")();
    } catch (py::error_already_set& error) {
        error.discard_as_unraisable("ScriptWorker.run");
    }
}

// The middle stretch: waits for the run's turn, then runs the scripts in order until one ends
// the run.  `outcomes` has room for every script already, so nothing here allocates or raises.
void run_unlocked(py::handle self, const Plan& plan, const QueuePlace& place, std::vector<Outcome>& outcomes)
{
    PyThreadState* state = PyEval_SaveThread();
    if (script_queue::wait_for_turn(place.ticket())) {
        PyEval_RestoreThread(state);
        announce_turn(self);
        state = PyEval_SaveThread();
    }
    for (const Script& script : plan.scripts) {
        outcomes.push_back(attempt(script, plan.windows));
        if (outcomes.back().ends_run())
            break;
    }
    PyEval_RestoreThread(state);
}

// str(OSError(error, strerror, name)): "[Errno 2] No such file or directory: 'bash'", as
// Python words it.  Made through OSError itself rather than errno: on Windows the runtime and
// this module need not share one C runtime's errno.
py::str os_error_text(int error, py::handle name)
{
    py::object os = global("os");
    return py::str(py::reinterpret_borrow<py::object>(PyExc_OSError)(error, os.attr("strerror")(error), name));
}

// What ended the run, in words.
py::str ending_text(const Outcome& outcome, const Script& script)
{
    switch (outcome.kind) {
    case Outcome::unreadable:
        return os_error_text(outcome.error, global("os").attr("fsdecode")(py::bytes(script.path)));
    case Outcome::not_started:
        return os_error_text(outcome.error, py::str("bash"));
    case Outcome::timed_out:
        return py::str(texts::timeout_head) + shown(script.path) + py::str(texts::timeout_middle) +
               py::str(std::to_string(script_time_limit.count())) + py::str(texts::timeout_tail);
    case Outcome::status_lost:
        return py::str(texts::timeout_head) + shown(script.path) + py::str(texts::status_lost_tail);
    case Outcome::unnamed:
        return text_again(script.no_name);
    default:
        return py::str("");
    }
}

// One sentence naming every script that ended badly; see texts.hpp for its forms.
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

// The last stretch: the outcomes as the run's result, built once.  Every script that ended
// badly, then every one that vanished, then what ended the run.
Result result_of(const Plan& plan, const std::vector<Outcome>& outcomes)
{
    std::vector<Failure> ended_badly;
    std::vector<py::str> parts;
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        if (outcomes[i].kind == Outcome::ended_badly)
            ended_badly.push_back({plan.scripts[i].path, outcomes[i].ending});
    if (!ended_badly.empty())
        parts.push_back(failure_sentence(ended_badly));
    for (std::size_t i = 0; i < outcomes.size(); ++i)
        if (outcomes[i].kind == Outcome::vanished)
            parts.push_back(short_name(plan.scripts[i].path) + py::str(texts::vanished_tail));
    if (!outcomes.empty() && outcomes.back().ends_run())
        parts.push_back(ending_text(outcomes.back(), plan.scripts[outcomes.size() - 1]));
    if (parts.empty())
        return {true, py::str(texts::scripts_succeeded)};
    py::str msg = parts[0];
    for (std::size_t i = 1; i < parts.size(); ++i)
        msg = msg + py::str(" ") + parts[i];
    return {false, msg};
}

// The ticket start() took for this run; a run called directly takes its own.
script_queue::Ticket ticket_of(py::handle self)
{
    py::object ticket = self.attr("__dict__").attr("pop")("_ticket", py::none());
    return ticket.is_none() ? script_queue::take() : ticket.cast<script_queue::Ticket>();
}

// The guarded block of run: a plan that cannot be made (a list that cannot be walked) is the
// run's (False, text) too.
Result run_once(py::handle self, const QueuePlace& place)
{
    Plan plan;
    try {
        plan = plan_for_run(self);
    } catch (py::error_already_set& error) {
        return {false, error_text(error)};
    }
    std::vector<Outcome> outcomes;
    outcomes.reserve(plan.scripts.size());
    run_unlocked(self, plan, place, outcomes);
    return result_of(plan, outcomes);
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
            // Only now may the next run begin: its result is then always sent after this one,
            // so results reach the window in click order.
            place.leave();
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
        py::object base_start = super_of(defining_class(call), self).attr("start");
        if (truth(self.attr("isRunning")()))
            return base_start(*call.extra);  // already running: Qt does nothing, no new place
        try {
            self.attr("_plan") = plan_capsule(plan_of(self, true));
        } catch (py::error_already_set& error) {
            if (!error.matches(PyExc_Exception))
                throw;
            // A list that cannot be walked now cannot be walked at the run either: the run
            // plans again and reports the same error as its result, as a failed run does.
        }
        script_queue::Ticket ticket = script_queue::take();
        self.attr("_ticket") = ticket;
        keep_until_finished(self);
        try {
            base_start(*call.extra);
        } catch (...) {
            self.attr("__dict__").attr("pop")("_plan", py::none());
            script_queue::leave(ticket);
            forget_worker(self);
            throw;
        }
        if (!truth(self.attr("isRunning")()) && !truth(self.attr("isFinished")())) {
            // Qt only warns when it cannot make the thread (no memory, no threads left): the
            // run would never begin, and the runs queued behind it would wait for ever.
            self.attr("__dict__").attr("pop")("_ticket", py::none());
            self.attr("__dict__").attr("pop")("_plan", py::none());
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
        super_of(defining_class(call), self).attr("__init__")();
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
    ns["_turn_signal"] = global("pyqtSignal")();
    ns["__init__"] = make_init(class_cell);
    ns["start"] = make_start(class_cell);
    ns["run"] = make_run();
    py::object cls = make_class(global("QThread"), "ScriptWorker", ns);
    class_cell[0] = cls;
    return cls;
}

}  // namespace z47
