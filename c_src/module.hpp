// What every part of the module shares: its dictionary, where each module-level name is looked
// up when it is used (as Python code would), so that a caller who rebinds a name is obeyed.
#pragma once

#include <pybind11/pybind11.h>

namespace z47 {

namespace py = pybind11;

inline constexpr const char* module_name = "Z47_Kurulum_Merkezi";

// The module's dictionary.  Valid once the exec step has started.
py::dict module_dict();

// The current value of a module-level name; NameError when it is not bound.
py::object global(const char* name);

// True when the module's `sys.platform` says Windows ("win32"); read afresh at every call.
bool on_windows();

// Each run of the module's exec step is one import attempt.  A function made by an attempt
// that failed, or by one that a later import has replaced, must not be run: its names would be
// looked up in a module that no longer exists.
int current_import_attempt();
bool import_is_live(int attempt);

}  // namespace z47
