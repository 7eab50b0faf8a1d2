// The two structures of the Python 3.12 embedding interface that the launcher hands to the
// runtime, as laid out by the Windows x64 runtime.  This file includes nothing, so that the
// declaration check can place it in a namespace of its own beside the runtime's real headers.
//
// PyStatus is passed and returned by value and read by the launcher, so it is declared field
// for field.  PyConfig is only stored by the launcher (the runtime fills it in), so it is
// opaque storage of the runtime's size and alignment; the fields the launcher writes are
// reached by their offsets (parse_argv directly, the two texts through PyConfig_SetString).

typedef long long Py_ssize_t;

typedef struct {
    enum { _PyStatus_TYPE_OK = 0, _PyStatus_TYPE_ERROR = 1, _PyStatus_TYPE_EXIT = 2 } _type;
    const char* func;
    const char* err_msg;
    int exitcode;
} PyStatus;

#define Z47_PYCONFIG_SIZE 432
#define Z47_PYCONFIG_ALIGN 8
#define Z47_PYCONFIG_PARSE_ARGV_OFFSET 96
#define Z47_PYCONFIG_PYTHONPATH_ENV_OFFSET 280
#define Z47_PYCONFIG_EXECUTABLE_OFFSET 336

typedef struct {
    alignas(Z47_PYCONFIG_ALIGN) unsigned char storage[Z47_PYCONFIG_SIZE];
} PyConfig;

typedef struct _object PyObject;
typedef struct Z47PyCompilerFlags PyCompilerFlags;  // only ever passed as null
