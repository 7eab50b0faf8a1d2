/* A Windows x64 build configuration for the Python 3.12 headers, just enough for them to be
   read by the mingw-w64 compiler when the launcher's own declarations are checked against
   them.  Only what changes the layout of the embedding structures matters here: long is 32
   bits, wchar_t is 16 bits, MS_WINDOWS adds its fields to PyConfig. */
#ifndef Z47_CHECK_PYCONFIG_H
#define Z47_CHECK_PYCONFIG_H
#define MS_WIN32
#define MS_WIN64
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD
#define Py_ENABLE_SHARED 1
#define HAVE_DECLSPEC_DLL
#define SIZEOF_SHORT 2
#define SIZEOF_INT 4
#define SIZEOF_LONG 4
#define SIZEOF_LONG_LONG 8
#define SIZEOF_VOID_P 8
#define SIZEOF_SIZE_T 8
#define SIZEOF_TIME_T 8
#define SIZEOF_WCHAR_T 2
#define SIZEOF_DOUBLE 8
#define SIZEOF_FLOAT 4
#define SIZEOF_OFF_T 4
#define SIZEOF_FPOS_T 8
#define SIZEOF__BOOL 1
#define ALIGNOF_SIZE_T 8
#define ALIGNOF_LONG 4
#define ALIGNOF_MAX_ALIGN_T 8
#define LONG_BIT 32
#define WORD_BIT 32
#define PY_LONG_LONG long long
#define HAVE_LONG_LONG 1
#define HAVE_SSIZE_T 1
#define HAVE_WCHAR_H 1
#define HAVE_STDDEF_H 1
#define HAVE_SYS_TYPES_H 1
#define HAVE_SYS_STAT_H 1
#define HAVE_IO_H 1
#define HAVE_PROCESS_H 1
#define HAVE_ERRNO_H 1
#define HAVE_FCNTL_H 1
#define HAVE_SIGNAL_H 1
#define HAVE_STDLIB_H 1
#define HAVE_COPYSIGN 1
#define HAVE_CLOCK 1
#define HAVE_STRFTIME 1
#define DONT_HAVE_SIG_ALARM
#define DONT_HAVE_SIG_PAUSE
#define PYLONG_BITS_IN_DIGIT 30
#define PY_SUPPORT_TIER 1
#include <io.h>
#endif
