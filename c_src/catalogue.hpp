// The catalogue of the six tools the centre manages.
#pragma once

#include <pybind11/pybind11.h>

namespace z47 {

namespace py = pybind11;

// Builds the list of program records.  Each `run_cmd` is made from the module's current
// `PY_EXEC` and `BASE_Z47_DIR`.
py::list build_programs();

}  // namespace z47
