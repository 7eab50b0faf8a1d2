// The runtime's embedding interface, from the runtime's own headers where the build has them
// (Linux, a Windows build with Python installed), else from the project's own declarations.
#pragma once

#ifdef Z47_OWN_PY312_DECLARATIONS
#include "py312_embed.h"
#else
#define PY_SSIZE_T_CLEAN
#include <Python.h>

inline void z47_set_parse_argv(PyConfig* config, int value)
{
    config->parse_argv = value;
}

inline wchar_t** z47_config_pythonpath_env(PyConfig* config) { return &config->pythonpath_env; }
inline wchar_t** z47_config_executable(PyConfig* config) { return &config->executable; }
#endif
