// Holds the launcher's own declarations of the Python 3.12 embedding interface
// (src/py312_embed.h, src/py312_types.h) against the runtime's real 3.12 headers, read for
// Windows x64.  It only has to compile: every difference is a failed static_assert.
#include <Python.h>

#include <cstddef>
#include <type_traits>

namespace own {
#include "py312_types.h"
}

// The structures: same size and alignment, fields where the runtime has them.
static_assert(std::is_same_v<own::Py_ssize_t, ::Py_ssize_t>);
static_assert(sizeof(own::PyStatus) == sizeof(::PyStatus));
static_assert(alignof(own::PyStatus) == alignof(::PyStatus));
static_assert(offsetof(own::PyStatus, _type) == offsetof(::PyStatus, _type));
static_assert(sizeof(own::PyStatus::_type) == sizeof(::PyStatus::_type));
static_assert(offsetof(own::PyStatus, func) == offsetof(::PyStatus, func));
static_assert(offsetof(own::PyStatus, err_msg) == offsetof(::PyStatus, err_msg));
static_assert(offsetof(own::PyStatus, exitcode) == offsetof(::PyStatus, exitcode));
static_assert(own::PyStatus::_PyStatus_TYPE_ERROR == 1 && own::PyStatus::_PyStatus_TYPE_EXIT == 2);
static_assert(sizeof(own::PyConfig) == sizeof(::PyConfig));
static_assert(alignof(own::PyConfig) == alignof(::PyConfig));
static_assert(Z47_PYCONFIG_PARSE_ARGV_OFFSET == offsetof(::PyConfig, parse_argv));
static_assert(std::is_same_v<decltype(::PyConfig::parse_argv), int>);
static_assert(Z47_PYCONFIG_PYTHONPATH_ENV_OFFSET == offsetof(::PyConfig, pythonpath_env));
static_assert(std::is_same_v<decltype(::PyConfig::pythonpath_env), wchar_t*>);
static_assert(Z47_PYCONFIG_EXECUTABLE_OFFSET == offsetof(::PyConfig, executable));
static_assert(std::is_same_v<decltype(::PyConfig::executable), wchar_t*>);

// The functions: each declared signature, read with the real types, is the real one.
#define Z47_PY312_FUNCTION_LIST_ONLY
#include "py312_embed.h"

#define Z47_CHECK(result, name, parameters) \
    static_assert(std::is_same_v<decltype(&::name), result(*) parameters>, #name);
Z47_PY312_EMBEDDING_FUNCTIONS(Z47_CHECK)
