// The background runs: see background_runs.hpp.
//
// In Python terms the runner is
//
//     def _run_scripts_async(self, scripts, status_txt, on_finished):
//         self.lbl_status.setText(status_txt)
//         worker = ScriptWorker(scripts)
//         self._workers.append(worker)
//         def _done(ok, msg):
//             if worker in self._workers: self._workers.remove(worker)
//             on_finished(ok, msg)
//         worker.done_signal.connect(_done)
//         worker._turn_signal.connect(lambda: self.lbl_status.setText(status_txt))  # queued: its turn
//         try:
//             worker.start()            # takes its place in the queue
//         except Exception as error:    # the thread could not be made: no result will come
//             self._workers.remove(worker)
//             on_finished(False, str(error))
#include "background_runs.hpp"

#include "module.hpp"
#include "slot_support.hpp"
#include "texts.hpp"

#include <Python.h>

#include <set>

#ifdef _WIN32
#include <windows.h>
#else
#include <condition_variable>
#include <mutex>
#endif

namespace z47 {

// ---- the queue -----------------------------------------------------------------------------

namespace script_queue {
namespace {

// A lock and a condition for the queue.  The Windows compiler's C++ library has no
// std::mutex in its thread model, so there the system's own primitives stand in.
#ifdef _WIN32
class Lock {
public:
    void lock() { AcquireSRWLockExclusive(&lock_); }
    void unlock() { ReleaseSRWLockExclusive(&lock_); }
    template <typename Done>
    void wait_until(Done done)
    {
        while (!done())
            SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    }
    void notify_all() { WakeAllConditionVariable(&changed_); }

private:
    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
};
#else
class Lock {
public:
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }
    template <typename Done>
    void wait_until(Done done)
    {
        std::unique_lock<std::mutex> held(mutex_, std::adopt_lock);
        changed_.wait(held, done);
        held.release();  // still locked: the caller unlocks
    }
    void notify_all() { changed_.notify_all(); }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
};
#endif

// Holds the lock for one scope.
class Held {
public:
    explicit Held(Lock& lock) : lock_(lock) { lock_.lock(); }
    ~Held() { lock_.unlock(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    Lock& lock_;
};

Lock queue_lock;
Ticket next_ticket = 0;
Ticket serving = 0;
std::set<Ticket> left_early;  // left before their turn (their thread never ran)

}  // namespace

Ticket take()
{
    Held held(queue_lock);
    return next_ticket++;
}

bool wait_for_turn(Ticket ticket)
{
    Held held(queue_lock);
    const bool waits = serving != ticket;
    queue_lock.wait_until([ticket] { return serving == ticket; });
    return waits;
}

void leave(Ticket ticket)
{
    {
        Held held(queue_lock);
        if (ticket != serving) {
            left_early.insert(ticket);
            return;
        }
        ++serving;
        while (left_early.erase(serving) == 1)
            ++serving;
    }
    queue_lock.notify_all();
}

}  // namespace script_queue

namespace {

// ---- workers that are still alive ----------------------------------------------------------

// Lives as long as the process, like the module.
py::list& live_workers()
{
    static py::list* workers = new py::list();
    return *workers;
}

// A real copy: the waits below must not walk a list that changes under them.
py::list copy_of(py::handle list)
{
    PyObject* copy = PySequence_List(list.ptr());
    if (!copy)
        throw py::error_already_set();
    return py::reinterpret_steal<py::list>(copy);
}

// Windows waiting to close until no script runs (weak references).
py::list& closing_windows()
{
    static py::list* windows = new py::list();
    return *windows;
}

void close_idle_windows();
bool waits_to_close(py::handle window);

// Connected to a worker's `finished`: the thread is done, so the worker may go.  The last
// reference is dropped from the event loop, not inside the worker's own signal.
py::object make_release(py::handle worker)
{
    return callback("_release", [worker_ref = weak(worker)](const py::args&) {
        py::object drop = callback("_drop", [worker_ref](const py::args&) {
            from_slot(worker_ref, [&] {
                forget_worker(deref(worker_ref));
                close_idle_windows();
            });
        });
        py::module_::import("PyQt5.QtCore").attr("QTimer").attr("singleShot")(0, drop);
    });
}

// ---- the runner ----------------------------------------------------------------------------

// The result handler of one run, `_done(ok, msg)`: forget the worker, then hand the result to
// the caller, even when the window itself is gone (the caller's callback decides what that
// means).
py::object make_done(py::handle self, py::handle worker, py::handle on_finished)
{
    return callback("_done", [window_ref = weak(self), worker_ref = weak(worker),
                              on_finished = py::reinterpret_borrow<py::object>(on_finished)](const py::args& result) {
        py::object window = deref(window_ref), worker = deref(worker_ref);
        if (!window.is_none()) {
            py::list workers = window.attr("_workers");
            if (!worker.is_none() && workers.contains(worker))
                workers.attr("remove")(worker);
        }
        from_slot(on_finished, [&] { on_finished(*result); });
    });
}

// A queued run whose turn has come: its "⏳ …" text is shown again, since results of earlier
// runs have replaced it meanwhile.  Not in a window that is waiting to close: its line says so.
py::object make_turn_notice(py::handle self, py::handle status_txt)
{
    return callback("_turn", [window_ref = weak(self), text = py::reinterpret_borrow<py::object>(status_txt)](
                                 const py::args&) {
        from_slot(window_ref, [&] {
            py::object window = deref(window_ref);
            if (is_alive(window) && !waits_to_close(window))
                window.attr("lbl_status").attr("setText")(text);
        });
    });
}

// ---- closing once the scripts are done -----------------------------------------------------

bool waits_to_close(py::handle window)
{
    for (py::handle ref : closing_windows())
        if (deref(ref).is(window))
            return true;
    return false;
}

void close_idle_windows()
{
    if (scripts_running() || py::len(closing_windows()) == 0)
        return;
    // A result box may still be open; the window goes once it has been read.
    py::object app = global("QApplication");
    if (!app.attr("activeModalWidget")().is_none()) {
        py::module_::import("PyQt5.QtCore").attr("QTimer").attr("singleShot")(
            200, callback("_close_idle_windows", [](const py::args&) {
                from_slot(py::none(), [] { close_idle_windows(); });
            }));
        return;
    }
    py::list windows = copy_of(closing_windows());
    closing_windows().attr("clear")();
    for (py::handle ref : windows) {
        py::object window = deref(ref);
        if (is_alive(window))
            window.attr("close")();
    }
}

}  // namespace

void keep_until_finished(py::handle worker)
{
    if (!live_workers().contains(worker))
        live_workers().append(worker);
    worker.attr("finished").attr("connect")(make_release(worker));
}

void forget_worker(py::handle worker)
{
    py::list& workers = live_workers();
    if (!worker.is_none() && workers.contains(worker))
        workers.attr("remove")(worker);
}

bool scripts_running()
{
    for (py::handle worker : copy_of(live_workers()))
        if (!is_deleted(worker) && truth(worker.attr("isRunning")()))
            return true;
    return false;
}

py::object run_scripts_async_method()
{
    const std::vector<std::pair<std::string, std::string>> annotations = {
        {"scripts", "List[Path]"}, {"status_txt", "str"}, {"on_finished", "Callable[[bool, str], None]"},
        {"return", "None"}};
    return window_method("_run_scripts_async", {"self", "scripts", "status_txt", "on_finished"}, annotations,
                         [](const Call& call) -> py::object {
        py::handle self = call[0], scripts = call[1], status_txt = call[2], on_finished = call[3];
        self.attr("lbl_status").attr("setText")(status_txt);
        py::object worker = global("ScriptWorker")(scripts);
        self.attr("_workers").attr("append")(worker);
        worker.attr("done_signal").attr("connect")(make_done(self, worker, on_finished));
        // The centre's own worker says when a queued run's turn comes; a stand-in for it (a worker
        // with only done_signal) need not.
        if (py::hasattr(worker, "_turn_signal"))
            worker.attr("_turn_signal").attr("connect")(make_turn_notice(self, status_txt));
        try {
            worker.attr("start")();
        } catch (py::error_already_set& error) {
            if (!error.matches(PyExc_Exception))
                throw;
            // The thread was never made, so no result will come from it: report the failure the
            // way a run that failed reports it.
            self.attr("_workers").attr("remove")(worker);
            py::str message(error.value());
            from_slot(on_finished, [&] { on_finished(false, message); });
        }
        return py::none();
    });
}

void close_when_scripts_end(py::handle window)
{
    if (!waits_to_close(window))
        closing_windows().append(weak(window));
}

void finish_running_scripts()
{
    // Every worker still alive, whoever started it; QThread.wait lets go of the interpreter
    // lock, so the workers can finish and emit while we wait.  A worker whose Qt object is
    // already gone has no thread left to wait for.
    for (py::handle worker : copy_of(live_workers()))
        if (!is_deleted(worker))
            worker.attr("wait")();
}

py::object make_exit_wait()
{
    FunctionSpec spec{.name = "_finish_running_scripts", .qualname = "_finish_running_scripts",
                      .annotations = {{"return", "None"}}, .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call&) -> py::object {
        finish_running_scripts();
        return py::none();
    });
}

}  // namespace z47
