// The window's actions, as its methods, each made beside its body: installing and removing
// (install_and_removal.cpp) and starting a tool (tool_launch.cpp).
#pragma once

#include "native_function.hpp"

#include <pybind11/pybind11.h>

namespace z47 {

namespace py = pybind11;

py::object install_one_method();    // install_one(self, prog): "Kur ve Başlat"
py::object install_all_method();    // install_all(self, *_args): "Tümünü Tek Tıkla Kur"
py::object uninstall_one_method();  // uninstall_one(self, prog): "Kaldır"
py::object launch_one_method();     // launch_one(self, prog): "Çalıştır"

}  // namespace z47
