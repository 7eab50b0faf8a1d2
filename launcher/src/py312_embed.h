// The part of the Python 3.12 embedding interface that the launcher calls, declared by the
// project itself for the Windows x64 cross build, where no Windows Python is installed.
//
// The functions are imported from python312.dll through python312.def (an import library
// made with dlltool).  check_py312_declarations.cpp holds these declarations against the
// runtime's real 3.12 headers wherever those are found; a build on Windows with a real
// Python 3.12 uses the real headers instead (Z47_USE_PYTHON_HEADERS).
#pragma once

#include <cstring>

// X(result, name, parameters) for each function the launcher calls, in the order of calling
// (PyConfig_SetString once per text field, before the arguments are set).
#define Z47_PY312_EMBEDDING_FUNCTIONS(X)                                                      \
    X(void, PyConfig_InitPythonConfig, (PyConfig * config))                                   \
    X(PyStatus, PyConfig_SetArgv, (PyConfig * config, Py_ssize_t argc, wchar_t* const* argv)) \
    X(PyStatus, PyConfig_SetString, (PyConfig * config, wchar_t** config_str, const wchar_t* str)) \
    X(PyStatus, Py_InitializeFromConfig, (const PyConfig* config))                            \
    X(void, PyConfig_Clear, (PyConfig * config))                                              \
    X(int, PyStatus_Exception, (PyStatus status))                                             \
    X(int, Py_IsInitialized, (void))                                                          \
    X(int, PyRun_SimpleStringFlags, (const char* command, PyCompilerFlags* flags))            \
    X(PyObject*, PySys_GetObject, (const char* name))                                         \
    X(long, PyLong_AsLong, (PyObject * object))                                               \
    X(PyObject*, PyErr_Occurred, (void))                                                      \
    X(void, PyErr_Clear, (void))                                                              \
    X(int, Py_FinalizeEx, (void))

#ifndef Z47_PY312_FUNCTION_LIST_ONLY

#include "py312_types.h"

#ifdef _WIN32
#define Z47_PY_IMPORT __declspec(dllimport)
#else
#define Z47_PY_IMPORT
#endif

extern "C" {
#define Z47_DECLARE(result, name, parameters) Z47_PY_IMPORT result name parameters;
Z47_PY312_EMBEDDING_FUNCTIONS(Z47_DECLARE)
#undef Z47_DECLARE
}

inline void z47_set_parse_argv(PyConfig* config, int value)
{
    std::memcpy(config->storage + Z47_PYCONFIG_PARSE_ARGV_OFFSET, &value, sizeof value);
}

// The configuration's text fields, for PyConfig_SetString.
inline wchar_t** z47_config_pythonpath_env(PyConfig* config)
{
    return reinterpret_cast<wchar_t**>(config->storage + Z47_PYCONFIG_PYTHONPATH_ENV_OFFSET);
}

inline wchar_t** z47_config_executable(PyConfig* config)
{
    return reinterpret_cast<wchar_t**>(config->storage + Z47_PYCONFIG_EXECUTABLE_OFFSET);
}

#endif
