// The signals that end a program started from a terminal or a desktop session: SIGINT (Ctrl+C),
// SIGTERM (kill, logging out) and SIGHUP (the terminal closing).  While the centre's event loop
// runs they close it as its close button does, so runs in progress end first and no later
// click is lost.
#pragma once

#include <pybind11/pybind11.h>

namespace z47 {

namespace py = pybind11;

// While it lives, each of the three signals closes the open message boxes (as Escape would:
// a question is answered "No") and then every centre window (closeEvent: a window with
// scripts running stays until they end).  When it goes, the signals' previous handlers come
// back.  It does nothing on Windows, where a windowed program gets no such signals, and off
// the main thread, where Python handles none.
//
// Python's own handler only notes a signal and runs the Python handler at the next bytecode of
// the main thread; inside Qt's event loop that is the next click, which then loses its action
// to the KeyboardInterrupt.  So the signal also wakes the loop: Python writes its number to a
// socket (signal.set_wakeup_fd), a QSocketNotifier on the other end runs the handlers at once.
class CloseOnSignals {
public:
    CloseOnSignals();
    ~CloseOnSignals();
    CloseOnSignals(const CloseOnSignals&) = delete;
    CloseOnSignals& operator=(const CloseOnSignals&) = delete;

private:
    void restore();

    bool installed_ = false;
    py::dict previous_handlers_;   // signal number -> the handler it had
    py::object previous_wakeup_fd_;
    py::object reader_, writer_;   // the socket pair the signals wake the loop through
    py::object notifier_;
};

}  // namespace z47
