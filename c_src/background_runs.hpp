// Running scripts in the background: the window's runner, the workers that are still alive,
// the queue that runs one script run at a time across the whole centre in click order, the
// wait for running scripts when the centre ends, and a window that closes itself once the
// scripts it is waiting for are done.
#pragma once

#include "native_function.hpp"

#include <pybind11/pybind11.h>

#include <cstdint>

namespace z47 {

namespace py = pybind11;

// One run of scripts at a time, in the order the runs were started (as a package manager
// holds one lock): a second click waits for the first run instead of running the same
// script beside it.  Tickets are taken on the GUI thread when a worker starts; a worker's
// thread waits for its turn without the interpreter lock and leaves the queue once its result
// has been sent, however the run ends.  A ticket whose thread never ran is left at once.
namespace script_queue {
using Ticket = std::uint64_t;
Ticket take();
bool wait_for_turn(Ticket ticket);  // true when it had to wait for another run
void leave(Ticket ticket);
}  // namespace script_queue

// Keeps a started worker referenced until its thread has finished (a QThread object must
// outlive its thread), whoever started it.
void keep_until_finished(py::handle worker);
void forget_worker(py::handle worker);

// True while any worker's thread runs (or waits for its turn).
bool scripts_running();

// The window's method _run_scripts_async(self, scripts, status_txt, on_finished).
py::object run_scripts_async_method();

// Closes `window` as soon as no script runs any more.
void close_when_scripts_end(py::handle window);

// Called by main once the event loop has returned: lets every running script run to its end,
// so that no install is cut off and no running thread is destroyed.
void finish_running_scripts();

// The same wait as a callable for the interpreter's exit: a program that ends without going
// through main still lets its scripts finish.
py::object make_exit_wait();

}  // namespace z47
