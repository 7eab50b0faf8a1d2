// ScriptWorker: runs install and removal scripts with bash on a thread of its own.
#pragma once

#include <pybind11/pybind11.h>

namespace z47 {

namespace py = pybind11;

// The class `ScriptWorker(QThread)` with its `done_signal(bool, str)`.
py::object make_script_worker_class();

}  // namespace z47
