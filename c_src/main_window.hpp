// Z47InstallerCenter: the centre's only window, its program cards and its actions.
#pragma once

#include <pybind11/pybind11.h>

namespace z47 {

namespace py = pybind11;

// The class `Z47InstallerCenter(QMainWindow)`.
py::object make_installer_center_class();

// Called by main once the event loop has returned: lets the scripts that the window started
// run to their end, so that no install is cut off and no running thread is destroyed.
void finish_running_scripts(py::handle window);

// The same wait as a callable for the interpreter's exit: a program that ends without going
// through main still lets its scripts finish, and no thread is cut off mid-way.
py::object make_exit_wait();

}  // namespace z47
