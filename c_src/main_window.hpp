// Z47InstallerCenter: the centre's only window and its program cards.
#pragma once

#include <pybind11/pybind11.h>

namespace z47 {

namespace py = pybind11;

// The class `Z47InstallerCenter(QMainWindow)`.
py::object make_installer_center_class();

}  // namespace z47
