/* The build configuration of the Python 3.12 runtime for Windows x64, for code that the
   project cross-builds with mingw-w64 against that runtime: the centre module and the check
   of the launcher's own runtime declarations.

   The official runtime is built with MSVC, so what matters is that every type and structure
   a header declares comes out with the sizes and layout that runtime has: `long` is 32 bits,
   `wchar_t` is 16 bits, pointers and Py_ssize_t are 64 bits, integers use 30-bit digits, and
   MS_WINDOWS adds its fields to the configuration structures.  Functions and data come from
   python312.dll (Py_ENABLE_SHARED with HAVE_DECLSPEC_DLL: dllimport).  None of the POSIX
   HAVE_* macros are set: the runtime was not built with them, and some of them change what
   the headers declare. */
#ifndef Z47_WINDOWS_PYCONFIG_H
#define Z47_WINDOWS_PYCONFIG_H

#if !defined(_WIN64) || !defined(__x86_64__)
#error "this configuration describes the 64-bit Windows (x64) runtime only"
#endif

/* ---- platform ---------------------------------------------------------------------------- */
#define MS_WIN32
#define MS_WIN64
#define MS_WINDOWS
#define NT_THREADS
#define WITH_THREAD
#define Py_WINVER 0x0602          /* Windows 8 API level, as the runtime's own build */
#define Py_ENABLE_SHARED 1        /* everything comes from python312.dll */
#define HAVE_DECLSPEC_DLL
#define PY_SUPPORT_TIER 1
#define PLATFORM "win32"
#define SOABI "cp312-win_amd64"

/* ---- sizes and alignment (MSVC, x64) ----------------------------------------------------- */
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
#define SIZEOF_HKEY 8
#define SIZEOF__BOOL 1
#define ALIGNOF_SIZE_T 8
#define ALIGNOF_LONG 4
#define ALIGNOF_MAX_ALIGN_T 8
#define PYLONG_BITS_IN_DIGIT 30
#define PY_LONG_LONG long long
#define HAVE_LONG_LONG 1
#define HAVE_SSIZE_T 1            /* mingw-w64's ssize_t is the 64-bit signed size */
#define HAVE_LARGEFILE_SUPPORT
#define DOUBLE_IS_LITTLE_ENDIAN_IEEE754 1
#define HAVE_COPYSIGN 1
#define HAVE_ROUND 1
#define HAVE_HYPOT 1
#define HAVE_ERF 1
#define HAVE_ERFC 1

/* ---- C headers the runtime's headers may include --------------------------------------- */
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
#define HAVE_CLOCK 1
#define HAVE_STRFTIME 1
#define DONT_HAVE_SIG_ALARM
#define DONT_HAVE_SIG_PAUSE
#define WORD_BIT 32

#include <io.h>

#endif
