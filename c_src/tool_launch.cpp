// Starting a tool: "Çalıştır", and "Kur ve Başlat" where no script runs.
//
//     def launch_one(self, prog):
//         cmd = find_installed(prog) or prog["run_cmd"]      # the nine places, then app.py
//         try:
//             subprocess.Popen(cmd, start_new_session=(sys.platform != "win32"))
//             self.lbl_status.setText("▶ " + prog["title"] + " başlatıldı.")
//         except Exception as e:
//             QMessageBox.warning(self, "Başlatma Hatası", "Hata: " + str(e))
//
// A place counts only if a program could be started from it: a regular file, and on Linux one
// the user may execute that is a program (a binary, or a script that names its interpreter
// with "#!").  Anything else there is passed over and the search goes on, so a stray file in
// an early place never hides the real program in a later one.
#include "actions.hpp"

#include "module.hpp"
#include "slot_support.hpp"
#include "texts.hpp"

#include <Python.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace z47 {
namespace {

// Where a tool's installed program may be, in the order they are tried.  Empty paths stand
// for places that do not apply to this tool.
py::list launch_candidates(py::handle prog)
{
    py::object Path = global("Path");
    py::object env = global("os").attr("environ");
    // The places beside the interpreter exist only when its path is known: an empty
    // sys.executable would make them the parent of whatever the current folder is.
    py::object executable = global("sys").attr("executable");
    bool known = truth(executable) && truth(Path(executable).attr("is_absolute")());
    py::object exe_dir = known ? Path(executable).attr("resolve")().attr("parent") : Path("");
    py::object pf_dir = Path(env.attr("get")("ProgramFiles", "C:\\Program Files"));
    py::object local_progs = Path(env.attr("get")("LOCALAPPDATA", "")) / py::str("Programs");
    py::object win_dir = prog.attr("get")("win_dir", "");
    py::object win_exe = prog.attr("get")("win_exe", "");
    py::object win_alt = prog.attr("get")("win_alt_exe", "");
    py::object id = prog["id"];
    py::object none = Path("");
    bool has_dir = truth(win_dir), has_alt = truth(win_alt);

    py::list c;
    c.append(known ? exe_dir / win_exe : none);
    c.append(known ? exe_dir / win_alt : none);
    c.append(known ? exe_dir / id : none);
    c.append(global("BASE_Z47_DIR") / win_exe);
    c.append(global("BASE_Z47_DIR") / id);
    c.append(has_dir ? pf_dir / win_dir / win_exe : none);
    c.append(has_dir && has_alt ? pf_dir / win_dir / win_alt : none);
    c.append(has_dir ? local_progs / win_dir / win_exe : none);
    c.append(Path("/usr/bin") / id);
    return c;
}

// The errors after which nothing can be at the path.
bool means_not_there(py::error_already_set& e)
{
    if (e.matches(PyExc_ValueError))
        return true;  // an embedded NUL: no file system accepts that name
    if (!e.matches(PyExc_OSError))
        return false;
    static const std::vector<int> not_there = {ENOENT, ENOTDIR, ELOOP, ENAMETOOLONG, EBADF};
    py::object err = e.value().attr("errno");
    return !err.is_none() && std::find(not_there.begin(), not_there.end(), err.cast<int>()) != not_there.end();
}

// A regular file (links followed) at the path?  A path that cannot name anything is simply
// not one; any other failure of the query is an error for the caller.
bool is_regular_file(py::handle path)
{
    try {
        py::object st = global("os").attr("stat")(path);
        return truth(py::module_::import("stat").attr("S_ISREG")(st.attr("st_mode")));
    } catch (py::error_already_set& e) {
        if (means_not_there(e))
            return false;
        throw;
    }
}

// On Linux: may the user run it, and is it a program?  A file the user may run but not read
// can only be a binary (a script's interpreter would have to read it), so it counts.
bool is_program(py::handle path)
{
    py::object os = global("os");
    if (!truth(os.attr("access")(path, os.attr("X_OK"))))
        return false;
    py::bytes head;
    try {
        py::object file = py::module_::import("builtins").attr("open")(path, "rb");
        try {
            head = file.attr("read")(4);
        } catch (...) {
            file.attr("close")();
            throw;
        }
        file.attr("close")();
    } catch (py::error_already_set& e) {
        if (e.matches(PyExc_PermissionError))
            return true;
        throw;
    }
    std::string start = head;
    return start.rfind("#!", 0) == 0 || start == "\x7f" "ELF";
}

bool can_start(py::handle path)
{
    return is_regular_file(path) && (on_windows() || is_program(path));
}

py::object find_installed(py::handle prog)
{
    for (py::handle cand : launch_candidates(prog)) {
        // Skipped without asking the file system: the empty path, and any relative path, which
        // would otherwise be looked up in whatever the current directory happens to be.
        if (py::str(cand.attr("name")).equal(py::str("")) || !truth(cand.attr("is_absolute")()))
            continue;
        if (can_start(cand)) {
            py::list cmd;
            cmd.append(py::str(cand));
            return cmd;
        }
    }
    return py::none();
}

// A command named without a folder ("python3" when the interpreter's path is not known) is
// looked up as the system would, but in absolute PATH folders only: an empty or relative entry
// names the current folder, and a program planted there must never run.  Returns the command
// to start: `cmd` itself, or a copy that names the program found.
py::object with_program_from_path(py::object cmd)
{
    py::object os = global("os");
    py::object os_path = os.attr("path");
    py::str name(cmd[py::int_(0)]);
    if (!py::str(os_path.attr("dirname")(name)).equal(py::str("")))
        return cmd;
    std::vector<py::object> names{name};
    if (on_windows() && py::str(os_path.attr("splitext")(name)[py::int_(1)]).equal(py::str("")))
        names.push_back(name + py::str(".exe"));  // what CreateProcess adds to a bare name
    for (py::handle folder : os.attr("get_exec_path")()) {
        if (!truth(os_path.attr("isabs")(folder)))
            continue;
        for (const py::object& each : names) {
            py::object program = os_path.attr("join")(folder, each);
            if (truth(os_path.attr("isfile")(program)) && truth(os.attr("access")(program, os.attr("X_OK")))) {
                py::list found(cmd);
                found[py::int_(0)] = program;
                return found;
            }
        }
    }
    // As the system says it when nothing is found.
    py::object error = py::module_::import("builtins").attr("FileNotFoundError")(
        ENOENT, os.attr("strerror")(ENOENT), name);
    PyErr_SetObject(PyExc_FileNotFoundError, error.ptr());
    throw py::error_already_set();
}

// What to start: the installed program, or else the tool's run_cmd.  The fallback names the
// tool's app.py, and starting an interpreter on a missing file would look like a good start.
py::object command_for(py::handle prog)
{
    py::object cmd = find_installed(prog);
    if (!cmd.is_none())
        return cmd;
    cmd = with_program_from_path(prog["run_cmd"]);
    if (py::len(cmd) > 1) {
        py::object target = global("Path")(cmd[py::int_(1)]);
        if (!truth(target.attr("exists")())) {
            py::object error = py::module_::import("builtins").attr("FileNotFoundError")(
                py::str(texts::launch_file_missing) + py::str(target));
            PyErr_SetObject(PyExc_FileNotFoundError, error.ptr());
            throw py::error_already_set();
        }
    }
    return cmd;
}

}  // namespace

py::object launch_one_method()
{
    return window_method("launch_one", {"self", "prog"}, {{"prog", "dict"}, {"return", "None"}}, [](const Call& call) {
        py::handle self = call[0], prog = call[1];
        try {
            py::object cmd = command_for(prog);
            global("subprocess").attr("Popen")(cmd, py::arg("start_new_session") = !on_windows());
            self.attr("lbl_status").attr("setText")(py::str(texts::mark_started) + py::str(prog["title"]) +
                                                    py::str(texts::started_tail));
        } catch (py::error_already_set& e) {
            if (!e.matches(PyExc_Exception))
                throw;
            global("QMessageBox").attr("warning")(self, texts::launch_error_caption,
                                                  py::str(texts::error_prefix) + py::str(e.value()));
        }
        return py::none();
    });
}

}  // namespace z47
