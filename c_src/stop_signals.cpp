// See stop_signals.hpp.  In Python terms:
//
//     def _close_everything(signum, frame):
//         for w in QApplication.topLevelWidgets():
//             if isinstance(w, QDialog) and w.isVisible(): w.close()       # as Escape would
//         for w in QApplication.topLevelWidgets():
//             if isinstance(w, Z47InstallerCenter) and w.isVisible(): w.close()
//
//     reader, writer = socket.socketpair()          # both non-blocking
//     previous_fd = signal.set_wakeup_fd(writer.fileno(), warn_on_full_buffer=False)
//     previous = {s: signal.signal(s, _close_everything) for s in (SIGINT, SIGTERM, SIGHUP)}
//     notifier = QSocketNotifier(reader.fileno(), QSocketNotifier.Read)
//     notifier.activated.connect(lambda _: (reader.recv(4096), run_pending_signal_handlers()))
//     ...                                           # the event loop
//     (previous handlers and wakeup fd put back)
#include "stop_signals.hpp"

#include "module.hpp"
#include "native_function.hpp"
#include "slot_support.hpp"

#include <Python.h>

namespace z47 {
namespace {

const char* const signal_names[] = {"SIGINT", "SIGTERM", "SIGHUP"};

bool is_a(py::handle object, py::handle cls)
{
    int result = PyObject_IsInstance(object.ptr(), cls.ptr());
    if (result < 0)
        throw py::error_already_set();
    return result == 1;
}

// The boxes first: a box's own event loop must end for the window behind it to close.
void close_everything()
{
    py::object dialog = py::module_::import("PyQt5.QtWidgets").attr("QDialog");
    py::object centre = global("Z47InstallerCenter");
    for (py::handle kind : {dialog, centre}) {
        for (py::handle widget : global("QApplication").attr("topLevelWidgets")())
            if (is_a(widget, kind) && truth(widget.attr("isVisible")()))
                widget.attr("close")();
    }
}

py::object make_handler()
{
    return py::cpp_function([](py::args) {
        from_slot(py::str("Z47_Kurulum_Merkezi: closing on a signal"), [] { close_everything(); });
    });
}

// The notifier's slot: the socket only wakes the loop; the handlers run here, now.
py::object make_wake_up(py::handle reader)
{
    return py::cpp_function([reader = py::reinterpret_borrow<py::object>(reader)](py::args) {
        from_slot(py::str("Z47_Kurulum_Merkezi: closing on a signal"), [&] {
            try {
                reader.attr("recv")(4096);
            } catch (py::error_already_set& error) {
                if (!error.matches(PyExc_BlockingIOError))
                    throw;  // nothing to read: woken for another reason
            }
            if (PyErr_CheckSignals() != 0)
                throw py::error_already_set();
        });
    });
}

}  // namespace

CloseOnSignals::CloseOnSignals()
{
    if (on_windows())
        return;
    py::module_ signal = py::module_::import("signal");
    py::object threading = py::module_::import("threading");
    if (!threading.attr("current_thread")().is(threading.attr("main_thread")()))
        return;  // Python lets only the main thread handle signals

    py::object pair = py::module_::import("socket").attr("socketpair")();
    reader_ = pair[py::int_(0)];
    writer_ = pair[py::int_(1)];
    reader_.attr("setblocking")(false);
    writer_.attr("setblocking")(false);
    previous_wakeup_fd_ = signal.attr("set_wakeup_fd")(writer_.attr("fileno")(), py::arg("warn_on_full_buffer") = false);
    installed_ = true;
    try {
        py::object handler = make_handler();
        for (const char* name : signal_names) {
            if (!py::hasattr(signal, name))
                continue;
            py::object number = signal.attr(name);
            previous_handlers_[number] = signal.attr("signal")(number, handler);
        }
        py::object notifier_type = py::module_::import("PyQt5.QtCore").attr("QSocketNotifier");
        notifier_ = notifier_type(reader_.attr("fileno")(), notifier_type.attr("Read"));
        notifier_.attr("activated").attr("connect")(make_wake_up(reader_));
    } catch (...) {
        restore();
        throw;
    }
}

void CloseOnSignals::restore()
{
    if (!installed_)
        return;
    installed_ = false;
    py::module_ signal = py::module_::import("signal");
    for (auto [number, handler] : previous_handlers_) {
        // None: a handler set outside Python, which Python cannot put back.
        if (!handler.is_none())
            signal.attr("signal")(number, handler);
    }
    signal.attr("set_wakeup_fd")(previous_wakeup_fd_);
    if (notifier_)
        notifier_.attr("setEnabled")(false);
    reader_.attr("close")();
    writer_.attr("close")();
}

CloseOnSignals::~CloseOnSignals()
{
    try {
        restore();
    } catch (py::error_already_set& error) {
        error.discard_as_unraisable("Z47_Kurulum_Merkezi.main");
    } catch (...) {
        set_python_error_from_current_exception();
        PyErr_WriteUnraisable(nullptr);
    }
}

}  // namespace z47
