// The bootstrap script: one UTF-8 source text, run once in __main__ after the runtime starts.
//
// It prepares what lies next to the launcher (streams, module path, DLL path, Qt plugins),
// imports the centre and calls its main, and turns the way main ends into the integer that it
// leaves in sys._z47_exit_code for the launcher.  Nothing raised by the import or by main
// escapes it: a failed start is written to the start-up log and shown in a box instead.
//
// Beyond the steps every start needs, it makes the standard streams it was given replace what
// they cannot encode, and points QT_PLUGIN_PATH at the plugins folder (see the script).
//
// PATH is joined with os.pathsep (";" on Windows), so the same text also runs under the Linux
// launcher without gluing the launcher's directory onto the first PATH entry.
//
// traceback is imported only once a start has failed: with what it pulls in (tokenize,
// linecache, textwrap) it would otherwise be a good part of the launcher's own start-up cost.
// The outcome is the same: a traceback module that cannot be imported makes the failure
// escape the script, which the launcher turns into exit code 1 with nothing logged.
#include "bootstrap_script.hpp"

#include "texts.hpp"  // the texts the script shares with the launcher, spliced in below

namespace z47::launcher {

const char bootstrap_script[] = R"py(import sys, os, io
sys._z47_exit_code = 0

# A GUI-subsystem process has no standard streams; keep what is printed in memory.
if sys.stdout is None:
    sys.stdout = io.StringIO()
if sys.stderr is None:
    sys.stderr = io.StringIO()
# Streams it was given (a console, a pipe) may use a code page without Turkish letters: what
# they cannot encode is replaced, so that printing never turns a good start into a failure.
for _stream in (sys.stdout, sys.stderr):
    if hasattr(_stream, "reconfigure"):
        try:
            _stream.reconfigure(errors="replace")
        except ValueError:
            pass  # a closed or detached stream prints nothing anyway

cwd = os.getcwd()
if cwd not in sys.path:
    sys.path.insert(0, cwd)
sp = os.path.join(cwd, "Lib", "site-packages")
if os.path.isdir(sp) and sp not in sys.path:
    sys.path.insert(0, sp)

qt_bin = os.path.join(sp, "PyQt5", "Qt5", "bin")
os.environ["PATH"] = (cwd + os.pathsep
                      + (qt_bin + os.pathsep if os.path.isdir(qt_bin) else "")
                      + os.environ.get("PATH", ""))
sys._z47_dll_dirs = []
if hasattr(os, "add_dll_directory"):
    try:
        sys._z47_dll_dirs.append(os.add_dll_directory(cwd))
    except Exception:
        pass
    if os.path.isdir(qt_bin):
        try:
            sys._z47_dll_dirs.append(os.add_dll_directory(qt_bin))
        except Exception:
            pass

qt_plugins = os.path.join(cwd, "plugins")
if not os.path.isdir(qt_plugins):
    qt_plugins = os.path.join(sp, "PyQt5", "Qt5", "plugins")
if os.path.isdir(qt_plugins):
    os.environ["QT_QPA_PLATFORM_PLUGIN_PATH"] = qt_plugins
    # Qt finds its plugins below its own prefix, which PyQt5 hands it through the ANSI code
    # page: from a folder whose name has letters outside that code page ("Ğ" and "ş" under a
    # Western one) the prefix is garbled and no platform plugin is found.  Qt reads this
    # variable as Unicode and looks for platforms/, styles/, ... below it.  Tools the centre
    # starts inherit it and find their plugins the same way.
    os.environ["QT_PLUGIN_PATH"] = qt_plugins

try:
    import Z47_Kurulum_Merkezi
    if hasattr(Z47_Kurulum_Merkezi, "main"):
        Z47_Kurulum_Merkezi.main()
except SystemExit as exc:
    if exc.code is None:
        sys._z47_exit_code = 0
    elif isinstance(exc.code, int):
        sys._z47_exit_code = exc.code
    else:
        sys._z47_exit_code = 1
except BaseException:
    sys._z47_exit_code = 1
    import traceback
    err_txt = traceback.format_exc()
    # The log and the box are best effort: the exit code says the start failed either way.
    try:
        log_d = os.path.join(os.environ.get("LOCALAPPDATA", cwd), ")py" Z47_TEXT_LOG_FOLDER R"py(")
        os.makedirs(log_d, exist_ok=True)
        with open(os.path.join(log_d, ")py" Z47_TEXT_LOG_FILE R"py("), "w", encoding="utf-8") as f:
            f.write(err_txt)
    except Exception:
        pass
    try:
        import ctypes
        ctypes.windll.user32.MessageBoxW(
            None, err_txt[:1800], ")py" Z47_TEXT_START_UP_ERROR_CAPTION R"py(", 0x10)
    except Exception:
        pass
)py";

}  // namespace z47::launcher
