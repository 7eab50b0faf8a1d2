// The window's actions, the bodies of its methods: installing and removing (install_flows.cpp)
// and starting a tool (tool_launch.cpp).  Each takes the call's (self, prog) or (self, *args).
#pragma once

#include "native_function.hpp"

#include <pybind11/pybind11.h>

namespace z47 {

namespace py = pybind11;

py::object install_one(const Call& call);
py::object install_all(const Call& call);
py::object uninstall_one(const Call& call);
py::object launch_one(const Call& call);

}  // namespace z47
