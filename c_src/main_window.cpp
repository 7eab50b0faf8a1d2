// The main window.  The constructor only wires: header, card area (one card per catalogue
// record), status line, in the order a person sees them from top to bottom.  The actions the
// buttons call are the window's methods further down.
#include "main_window.hpp"

#include "module.hpp"
#include "native_function.hpp"
#include "styles.hpp"
#include "texts.hpp"

#include <Python.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace z47 {
namespace {

std::string text_of(py::handle value) { return py::str(value).cast<std::string>(); }

bool truth(py::handle value)
{
    int result = PyObject_IsTrue(value.ptr());
    if (result < 0)
        throw py::error_already_set();
    return result == 1;
}

// ---- construction --------------------------------------------------------------------------

void set_window_icon(py::handle self)
{
    py::object base = global("BASE_Z47_DIR");
    py::object icon = base / py::str("z47-system-network") / py::str("assets") / py::str("icon_512.png");
    if (!py::bool_(icon.attr("exists")()))
        icon = base / py::str("z47-linux-monitor") / py::str("assets") / py::str("icon_512.png");
    if (py::bool_(icon.attr("exists")()))
        self.attr("setWindowIcon")(global("QIcon")(py::str(icon)));
}

py::object build_header(py::handle self)
{
    py::object hdr = global("QFrame")();
    hdr.attr("setObjectName")("HeaderCard");
    py::object hl = global("QHBoxLayout")(hdr);
    hl.attr("setContentsMargins")(16, 12, 16, 12);

    py::object title_col = global("QVBoxLayout")();
    title_col.attr("setSpacing")(3);
    py::object lbl_main = global("QLabel")(texts::header_title);
    lbl_main.attr("setFont")(clean_font(13));
    lbl_main.attr("setStyleSheet")(style::header_title);
    py::object lbl_sub = global("QLabel")(texts::header_subtitle);
    lbl_sub.attr("setFont")(clean_font(10));
    lbl_sub.attr("setStyleSheet")(style::header_subtitle);
    title_col.attr("addWidget")(lbl_main);
    title_col.attr("addWidget")(lbl_sub);

    py::object btn_install_all = global("QPushButton")(texts::install_all_button);
    btn_install_all.attr("setFont")(clean_font(10));
    btn_install_all.attr("setCursor")(global("Qt").attr("PointingHandCursor"));
    btn_install_all.attr("setFixedHeight")(38);
    btn_install_all.attr("setToolTip")(texts::install_all_tooltip);
    btn_install_all.attr("setStyleSheet")(style::install_all_button);
    // A bound method: PyQt keeps the window weakly and passes the click's flag, which
    // install_all accepts and ignores.
    btn_install_all.attr("clicked").attr("connect")(self.attr("install_all"));

    hl.attr("addLayout")(title_col, 1);
    hl.attr("addWidget")(btn_install_all);
    return hdr;
}

// The click handler of one card button: calls window.<action>(record) with the card's own
// record.  The window is held weakly so that a card does not keep its window alive.
py::object make_click_handler(py::handle self, py::handle prog, const char* action)
{
    FunctionSpec spec{.name = "_on_click", .qualname = "Z47InstallerCenter.__init__.<locals>._on_click",
                      .varargs = "_args", .file = __FILE_NAME__, .line = __LINE__};
    py::object window_ref = py::reinterpret_steal<py::object>(PyWeakref_NewRef(self.ptr(), nullptr));
    if (!window_ref)
        throw py::error_already_set();
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        py::object window = py::reinterpret_borrow<py::object>(PyWeakref_GetObject(call.closure[0].ptr()));
        if (window.is_none())
            return py::none();
        try {
            window.attr(call.closure[2])(call.closure[1]);
        } catch (py::error_already_set& e) {
            // An exception out of a slot would end the whole process; report it instead.
            e.restore();
            PyErr_WriteUnraisable(call.closure[0].ptr());
        }
        return py::none();
    }, py::make_tuple(window_ref, prog, py::str(action)));
}

struct CardButton {
    const char* text;
    const char* tooltip_tail;
    const char* bg;
    const char* fg;
    const char* border;
    const char* action;
};

const CardButton card_buttons[] = {
    {texts::button_install, texts::tooltip_install, "#0284C7", "#FFFFFF", "#0369A1", "install_one"},
    {texts::button_launch, texts::tooltip_launch, "#ECFDF5", "#15803D", "#86EFAC", "launch_one"},
    {texts::button_uninstall, texts::tooltip_uninstall, "#FEF2F2", "#DC2626", "#FCA5A5", "uninstall_one"},
};

py::object build_card_button(py::handle self, py::handle prog, const CardButton& b)
{
    py::object btn = global("QPushButton")(b.text);
    btn.attr("setFont")(clean_font(10));
    btn.attr("setCursor")(global("Qt").attr("PointingHandCursor"));
    btn.attr("setFixedHeight")(36);
    btn.attr("setToolTip")(text_of(prog["title"]) + b.tooltip_tail);
    btn.attr("setStyleSheet")(self.attr("_btn_style")(b.bg, b.fg, b.border));
    btn.attr("clicked").attr("connect")(make_click_handler(self, prog, b.action));
    return btn;
}

void build_card(py::handle self, py::handle prog, py::handle cards_layout)
{
    py::object card = global("QFrame")();
    card.attr("setObjectName")("Card");
    py::object cl = global("QHBoxLayout")(card);
    cl.attr("setContentsMargins")(18, 14, 18, 14);
    cl.attr("setSpacing")(14);

    py::object info_col = global("QVBoxLayout")();
    info_col.attr("setSpacing")(4);
    py::object t_lbl = global("QLabel")(text_of(prog["title"]) + "  (" + text_of(prog["version"]) + ")");
    t_lbl.attr("setFont")(clean_font(11));
    t_lbl.attr("setWordWrap")(true);
    t_lbl.attr("setStyleSheet")(style::card_title(text_of(prog["accent"])));
    py::object d_lbl = global("QLabel")(text_of(prog["desc"]));
    d_lbl.attr("setFont")(clean_font(9));
    d_lbl.attr("setWordWrap")(true);
    d_lbl.attr("setStyleSheet")(style::card_description);
    info_col.attr("addWidget")(t_lbl);
    info_col.attr("addWidget")(d_lbl);

    py::object btn_col = global("QHBoxLayout")();
    btn_col.attr("setSpacing")(8);
    for (const CardButton& b : card_buttons)
        btn_col.attr("addWidget")(build_card_button(self, prog, b));

    cl.attr("addLayout")(info_col, 1);
    cl.attr("addLayout")(btn_col);
    cards_layout.attr("addWidget")(card);
}

py::object build_card_area(py::handle self)
{
    py::object scroll = global("QScrollArea")();
    scroll.attr("setWidgetResizable")(true);
    scroll.attr("setFrameShape")(global("QFrame").attr("NoFrame"));
    scroll.attr("setStyleSheet")(style::scroll_area);

    py::object cards_container = global("QWidget")();
    py::object cards_layout = global("QVBoxLayout")(cards_container);
    cards_layout.attr("setContentsMargins")(0, 0, 4, 0);
    cards_layout.attr("setSpacing")(10);
    for (py::handle prog : global("PROGRAMS"))
        build_card(self, prog, cards_layout);
    cards_layout.attr("addStretch")();  // cards keep their heights, packed at the top
    scroll.attr("setWidget")(cards_container);
    return scroll;
}

py::object build_status_line(py::handle self)
{
    py::object lbl_status = global("QLabel")(texts::status_ready);
    self.attr("lbl_status") = lbl_status;
    lbl_status.attr("setFont")(clean_font(9));
    lbl_status.attr("setStyleSheet")(style::status_line);
    return lbl_status;
}

py::object make_init(py::list class_cell)
{
    FunctionSpec spec{.name = "__init__", .qualname = "Z47InstallerCenter.__init__", .params = {"self"},
                      .annotations = {{"return", "None"}}, .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        py::handle self = call[0];
        super_of(call.closure[0].cast<py::list>()[0], self).attr("__init__")();
        self.attr("_workers") = py::list();
        self.attr("setWindowTitle")(py::str(texts::window_title) + global("CREDITS_LINE"));
        self.attr("setMinimumSize")(760, 480);
        self.attr("resize")(1120, 740);
        set_window_icon(self);

        py::object root = global("QWidget")();
        self.attr("setCentralWidget")(root);
        root.attr("setStyleSheet")(style::window);
        py::object layout = global("QVBoxLayout")(root);
        layout.attr("setContentsMargins")(18, 16, 18, 14);
        layout.attr("setSpacing")(10);
        layout.attr("addWidget")(build_header(self));
        layout.attr("addWidget")(build_card_area(self), 1);
        layout.attr("addWidget")(build_status_line(self));
        return py::none();
    }, py::make_tuple(class_cell));
}

// ---- running scripts in the background ------------------------------------------------------

// Workers whose thread may still be running.  A QThread object must outlive its thread, so a
// worker stays here from its start until its thread has finished, even after the window has
// let go of it.  Lives as long as the process, like the module.
py::list& live_workers()
{
    static py::list* workers = new py::list();
    return *workers;
}

py::object weak(py::handle object)
{
    PyObject* ref = PyWeakref_NewRef(object.ptr(), nullptr);
    if (!ref)
        throw py::error_already_set();
    return py::reinterpret_steal<py::object>(ref);
}

py::object deref(py::handle ref) { return py::reinterpret_borrow<py::object>(PyWeakref_GetObject(ref.ptr())); }

// A window that still exists on both sides: its Python object and its Qt widget.
bool is_alive(py::handle window)
{
    return !window.is_none() && !truth(py::module_::import("PyQt5.sip").attr("isdeleted")(window));
}

// Runs `callback(args...)` from a slot: an exception must not leave a slot (PyQt would end the
// process), so it is reported on standard error instead.
template <typename... Args>
void call_from_slot(py::handle callback, Args&&... args)
{
    try {
        callback(std::forward<Args>(args)...);
    } catch (py::error_already_set& e) {
        e.restore();
        PyErr_WriteUnraisable(callback.ptr());
    }
}

// Connected to the worker's `finished`: the thread is done, so the worker may go.  The last
// reference is dropped from the event loop, not inside the worker's own signal.
py::object make_release(py::handle worker)
{
    FunctionSpec spec{.name = "_release", .qualname = "Z47InstallerCenter._run_scripts_async.<locals>._release",
                      .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        py::object drop = py::cpp_function([ref = py::object(call.closure[0])]() {
            py::object worker = deref(ref);
            py::list& workers = live_workers();
            if (!worker.is_none() && workers.contains(worker))
                workers.attr("remove")(worker);
        });
        py::module_::import("PyQt5.QtCore").attr("QTimer").attr("singleShot")(0, drop);
        return py::none();
    }, py::make_tuple(weak(worker)));
}

// The result handler of one run: forget the worker, then hand the result to the caller.
py::object make_done(py::handle self, py::handle worker, py::handle on_finished)
{
    FunctionSpec spec{.name = "_done", .qualname = "Z47InstallerCenter._run_scripts_async.<locals>._done",
                      .params = {"ok", "msg"}, .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call& call) -> py::object {
        py::object window = deref(call.closure[0]);
        py::object worker = deref(call.closure[1]);
        if (!window.is_none()) {
            py::list workers = window.attr("_workers");
            if (!worker.is_none() && workers.contains(worker))
                workers.attr("remove")(worker);
        }
        call_from_slot(call.closure[2], call[0], call[1]);
        return py::none();
    }, py::make_tuple(weak(self), weak(worker), on_finished));
}

py::object run_scripts_async(const Call& call)
{
    py::handle self = call[0], scripts = call[1], status_txt = call[2], on_finished = call[3];
    self.attr("lbl_status").attr("setText")(status_txt);
    py::object worker = global("ScriptWorker")(scripts);
    self.attr("_workers").attr("append")(worker);
    live_workers().append(worker);
    worker.attr("done_signal").attr("connect")(make_done(self, worker, on_finished));
    worker.attr("finished").attr("connect")(make_release(worker));
    worker.attr("start")();
    return py::none();
}

// ---- the actions ---------------------------------------------------------------------------

std::string title_of(py::handle prog) { return text_of(prog["title"]); }

py::object script_path(py::handle prog, const char* name)
{
    return global("BASE_Z47_DIR") / prog["folder"] / py::str(name);
}

bool exists(py::handle path) { return py::bool_(path.attr("exists")()); }

// Status line and warning box for a failed action.
void report_failure(py::handle self, const char* caption, py::handle message)
{
    self.attr("lbl_status").attr("setText")(texts::mark_error + text_of(message));
    global("QMessageBox").attr("warning")(self, caption, texts::error_prefix + text_of(message));
}

std::string exception_text(py::error_already_set& e) { return text_of(e.value()); }

// A completion callback: `body(window, closure, ok, msg)` on the GUI thread.
template <typename F>
py::object make_after(const char* qualname, py::tuple closure, F body)
{
    FunctionSpec spec{.name = "_after", .qualname = qualname, .params = {"ok", "msg"},
                      .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [body](const Call& call) -> py::object {
        py::object window = deref(call.closure[0]);
        if (is_alive(window))
            body(window, call.closure, truth(call[0]), call[1]);
        return py::none();
    }, closure);
}

// Runs an action's preparation (finding scripts, asking, starting the run).  Should it fail,
// for instance because a tool folder cannot be read, the user is told with the action's own
// caption instead of the error ending the program from inside a button's slot.
template <typename F>
py::object guarded(py::handle self, const char* caption, F action)
{
    try {
        action();
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_Exception))
            throw;
        report_failure(self, caption, e.value());
    }
    return py::none();
}

void install_one_steps(py::handle self, py::handle prog)
{
    py::object script = script_path(prog, "kur.sh");
    if (on_windows() || !exists(script)) {
        self.attr("launch_one")(prog);  // nothing to run here: start the tool as "Çalıştır" does
        return;
    }
    py::object after = make_after("Z47InstallerCenter.install_one.<locals>._after", py::make_tuple(weak(self), prog),
        [](py::handle window, py::tuple closure, bool ok, py::handle msg) {
            std::string title = title_of(closure[1]);
            if (!ok)
                return report_failure(window, texts::install_error_caption, msg);
            window.attr("lbl_status").attr("setText")(texts::mark_done + title + texts::installed_status_tail);
            global("QMessageBox").attr("information")(window, texts::install_done_caption,
                texts::mark_done + title + texts::installed_box_tail + texts::credits_prefix +
                    text_of(global("CREDITS_LINE")));
        });
    py::list scripts;
    scripts.append(script);
    self.attr("_run_scripts_async")(scripts, texts::mark_running + title_of(prog) + texts::installing_tail, after);
}

py::object install_one(const Call& call)
{
    return guarded(call[0], texts::install_error_caption, [&] { install_one_steps(call[0], call[1]); });
}

// Where a tool's installed program may be, in the order they are tried.  Empty paths stand
// for places that do not apply to this tool.
py::list launch_candidates(py::handle prog)
{
    py::object Path = global("Path");
    py::object env = global("os").attr("environ");
    py::object exe_dir = Path(global("sys").attr("executable")).attr("resolve")().attr("parent");
    py::object pf_dir = Path(env.attr("get")("ProgramFiles", "C:\\Program Files"));
    py::object local_progs = Path(env.attr("get")("LOCALAPPDATA", "")) / py::str("Programs");
    py::object win_dir = prog.attr("get")("win_dir", "");
    py::object win_exe = prog.attr("get")("win_exe", "");
    py::object win_alt = prog.attr("get")("win_alt_exe", "");
    py::object id = prog["id"];
    py::object none = Path("");
    bool has_dir = py::bool_(win_dir), has_alt = py::bool_(win_alt);

    py::list c;
    c.append(exe_dir / win_exe);
    c.append(exe_dir / win_alt);
    c.append(exe_dir / id);
    c.append(global("BASE_Z47_DIR") / win_exe);
    c.append(global("BASE_Z47_DIR") / id);
    c.append(has_dir ? pf_dir / win_dir / win_exe : none);
    c.append(has_dir && has_alt ? pf_dir / win_dir / win_alt : none);
    c.append(has_dir ? local_progs / win_dir / win_exe : none);
    c.append(Path("/usr/bin") / id);
    return c;
}

// A regular file (links followed) at the path?  A path that cannot name anything (missing,
// a component that is no folder, too long, a link loop) is simply not one; any other failure
// of the query is an error for the caller.
bool is_regular_file(py::handle path)
{
    try {
        py::object st = global("os").attr("stat")(path);
        return py::module_::import("stat").attr("S_ISREG")(st.attr("st_mode")).cast<bool>();
    } catch (py::error_already_set& e) {
        if (e.matches(PyExc_ValueError))
            return false;  // an embedded NUL: no file system accepts that name
        if (!e.matches(PyExc_OSError))
            throw;
        static const std::vector<int> not_there = {ENOENT, ENOTDIR, ELOOP, ENAMETOOLONG, EBADF};
        py::object err = e.value().attr("errno");
        if (!err.is_none() && std::find(not_there.begin(), not_there.end(), err.cast<int>()) != not_there.end())
            return false;
        throw;
    }
}

py::object find_installed(py::handle prog)
{
    for (py::handle cand : launch_candidates(prog)) {
        // Skipped without asking the file system: the empty path, and any relative path, which
        // would otherwise be looked up in whatever the current directory happens to be.
        if (py::str(cand.attr("name")).equal(py::str("")) || !py::bool_(cand.attr("is_absolute")()))
            continue;
        if (is_regular_file(cand)) {
            py::list cmd;
            cmd.append(py::str(cand));
            return cmd;
        }
    }
    return py::none();
}

py::object launch_one(const Call& call)
{
    py::handle self = call[0], prog = call[1];
    try {
        py::object cmd_to_run = find_installed(prog);
        if (cmd_to_run.is_none()) {
            cmd_to_run = prog["run_cmd"];
            // The fallback names the tool's app.py: starting an interpreter on a missing file
            // would look like a successful start.
            if (py::len(cmd_to_run) > 1) {
                py::object target = global("Path")(cmd_to_run[py::int_(1)]);
                if (!exists(target))
                    throw py::value_error(texts::launch_file_missing + text_of(target));
            }
        }
        bool new_session = !on_windows();
        global("subprocess").attr("Popen")(cmd_to_run, py::arg("start_new_session") = new_session);
        self.attr("lbl_status").attr("setText")(texts::mark_started + title_of(prog) + texts::started_tail);
    } catch (py::error_already_set& e) {
        if (!e.matches(PyExc_Exception))
            throw;
        global("QMessageBox").attr("warning")(self, texts::launch_error_caption, texts::error_prefix + exception_text(e));
    } catch (py::builtin_exception& e) {
        global("QMessageBox").attr("warning")(self, texts::launch_error_caption, texts::error_prefix + std::string(e.what()));
    }
    return py::none();
}

void uninstall_one_steps(py::handle self, py::handle prog)
{
    py::object script = script_path(prog, "kaldir.sh");
    if (!exists(script))
        return;
    py::object box = global("QMessageBox");
    py::object ans = box.attr("question")(self, texts::uninstall_question_caption,
                                          title_of(prog) + texts::uninstall_question_tail,
                                          box.attr("Yes") | box.attr("No"), box.attr("No"));
    if (!ans.equal(box.attr("Yes")))
        return;
    py::object after = make_after("Z47InstallerCenter.uninstall_one.<locals>._after", py::make_tuple(weak(self), prog),
        [](py::handle window, py::tuple closure, bool ok, py::handle msg) {
            if (!ok)
                return report_failure(window, texts::uninstall_error_caption, msg);
            window.attr("lbl_status").attr("setText")(texts::mark_removed + title_of(closure[1]) +
                                                      texts::uninstalled_tail);
        });
    py::list scripts;
    scripts.append(script);
    self.attr("_run_scripts_async")(scripts, texts::mark_running + title_of(prog) + texts::uninstalling_tail, after);
}

py::object uninstall_one(const Call& call)
{
    return guarded(call[0], texts::uninstall_error_caption, [&] { uninstall_one_steps(call[0], call[1]); });
}

void install_all_steps(py::handle self)
{
    py::list scripts;
    for (py::handle prog : global("PROGRAMS")) {
        py::object script = script_path(prog, "kur.sh");
        if (exists(script))
            scripts.append(script);
    }
    py::object after = make_after("Z47InstallerCenter.install_all.<locals>._after", py::make_tuple(weak(self)),
        [](py::handle window, py::tuple, bool ok, py::handle msg) {
            if (!ok)
                return report_failure(window, texts::install_error_caption, msg);
            window.attr("lbl_status").attr("setText")(texts::installed_all_status);
            global("QMessageBox").attr("information")(window, texts::installed_all_caption,
                texts::installed_all_box + std::string(texts::credits_prefix) + text_of(global("CREDITS_LINE")));
        });
    self.attr("_run_scripts_async")(scripts, texts::installing_all, after);
}

py::object install_all(const Call& call)
{
    return guarded(call[0], texts::install_error_caption, [&] { install_all_steps(call[0]); });
}

py::object make_action(const char* name, std::vector<std::string> params,
                       std::vector<std::pair<std::string, std::string>> annotations, Body body,
                       std::string varargs = "")
{
    FunctionSpec spec{.name = name, .qualname = std::string("Z47InstallerCenter.") + name,
                      .params = std::move(params), .varargs = std::move(varargs),
                      .annotations = std::move(annotations), .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), std::move(body));
}

}  // namespace

py::object make_installer_center_class()
{
    py::list class_cell(1);  // filled once the class exists, for super() in __init__
    py::dict ns;
    ns["__module__"] = module_name;
    ns["__qualname__"] = "Z47InstallerCenter";
    ns["__init__"] = make_init(class_cell);
    ns["_btn_style"] = py::module_::import("builtins").attr("staticmethod")(make_btn_style());
    ns["_run_scripts_async"] = make_action(
        "_run_scripts_async", {"self", "scripts", "status_txt", "on_finished"},
        {{"scripts", "List[Path]"}, {"status_txt", "str"}, {"on_finished", "Callable[[bool, str], None]"},
         {"return", "None"}},
        run_scripts_async);
    ns["install_one"] = make_action("install_one", {"self", "prog"}, {{"prog", "dict"}, {"return", "None"}}, install_one);
    ns["launch_one"] = make_action("launch_one", {"self", "prog"}, {{"prog", "dict"}, {"return", "None"}}, launch_one);
    ns["uninstall_one"] =
        make_action("uninstall_one", {"self", "prog"}, {{"prog", "dict"}, {"return", "None"}}, uninstall_one);
    ns["install_all"] = make_action("install_all", {"self"}, {{"return", "None"}}, install_all, "_args");
    py::object cls = make_class(global("QMainWindow"), "Z47InstallerCenter", ns);
    class_cell[0] = cls;
    return cls;
}

py::object make_exit_wait()
{
    FunctionSpec spec{.name = "_finish_running_scripts", .qualname = "_finish_running_scripts",
                      .annotations = {{"return", "None"}}, .file = __FILE_NAME__, .line = __LINE__};
    return make_function(std::move(spec), [](const Call&) -> py::object {
        finish_running_scripts(py::none());
        return py::none();
    });
}

void finish_running_scripts(py::handle /*window*/)
{
    // Every worker still alive, whichever window started it; QThread.wait lets go of the
    // interpreter lock, so the workers can finish and emit while we wait.
    for (py::handle worker : py::list(live_workers()))
        worker.attr("wait")();
}

}  // namespace z47
