// Installing and removing tools: "Kur ve Başlat", "Tümünü Tek Tıkla Kur" and "Kaldır".
//
// Each action finds its scripts, hands them to the window's runner with a status text and a
// completion callback `_after`, and returns at once; `_after` runs on the GUI thread when the
// run has ended and writes the outcome to the status line and a box.  On Windows, or for a tool
// without kur.sh, "Kur ve Başlat" starts the tool instead (tool_launch.cpp).  On Windows no
// script is ever run, so "Tümünü Tek Tıkla Kur" and "Kaldır" claim no installation or removal
// there: they say that the tools come with the package and where it is removed.
//
// Should an action fail while preparing (a tool folder that cannot be read, say), the user is
// told with the action's own caption, as a failed run would tell them.
#include "actions.hpp"

#include "module.hpp"
#include "slot_support.hpp"
#include "texts.hpp"

#include <Python.h>

namespace z47 {
namespace {

py::str title_of(py::handle prog) { return py::str(prog["title"]); }

py::object script_path(py::handle prog, const char* name)
{
    return global("BASE_Z47_DIR") / prog["folder"] / py::str(name);
}

bool exists(py::handle path) { return truth(path.attr("exists")()); }

// A success box's text: the message, then the credits line.
py::str with_credits(py::handle text)
{
    return py::str(text) + py::str(texts::credits_prefix) + py::str(global("CREDITS_LINE"));
}

// Status line and warning box for a failed action.
void report_failure(py::handle self, const char* caption, py::handle message)
{
    self.attr("lbl_status").attr("setText")(py::str(texts::mark_error) + py::str(message));
    global("QMessageBox").attr("warning")(self, caption, py::str(texts::error_prefix) + py::str(message));
}

// Runs an action's preparation; an error in it is reported, not raised.
template <typename F>
py::object reporting_failure(py::handle self, const char* caption, F action)
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

// The completion callback `_after(ok, msg)` of an action's run: `body(window, ok, msg)` on the
// GUI thread, for a window that still exists on both sides.  The body captures what else it
// needs (the record) by name.
template <typename F>
py::object make_after(py::handle self, F body, std::source_location where = std::source_location::current())
{
    return callback("_after", [window_ref = weak(self), body](const py::args& result) {
        py::object window = deref(window_ref);
        if (is_alive(window))
            body(window, truth(result[0]), result[1]);
    }, where);
}

void run_one(py::handle self, py::handle script, py::str status, py::handle after)
{
    py::list scripts;
    scripts.append(script);
    self.attr("_run_scripts_async")(scripts, status, after);
}

// ---- Kur ve Başlat ---------------------------------------------------------------------------

void install_one_steps(py::handle self, py::handle prog)
{
    py::object script = script_path(prog, "kur.sh");
    if (on_windows() || !exists(script)) {
        self.attr("launch_one")(prog);  // nothing to run here: start the tool as "Çalıştır" does
        return;
    }
    py::object after = make_after(self, [prog = py::reinterpret_borrow<py::object>(prog)](
                                            py::handle window, bool ok, py::handle msg) {
            if (!ok)
                return report_failure(window, texts::install_error_caption, msg);
            py::str title = title_of(prog);
            window.attr("lbl_status").attr("setText")(py::str(texts::mark_done) + title +
                                                      py::str(texts::installed_status_tail));
            global("QMessageBox").attr("information")(
                window, texts::install_done_caption,
                with_credits(py::str(texts::mark_done) + title + py::str(texts::installed_box_tail)));
        });
    run_one(self, script, py::str(texts::mark_running) + title_of(prog) + py::str(texts::installing_tail), after);
}

// ---- Tümünü Tek Tıkla Kur ----------------------------------------------------------------------

void tell_all_ready(py::handle self)
{
    self.attr("lbl_status").attr("setText")(texts::ready_all_status);
    global("QMessageBox").attr("information")(
        self, texts::installed_all_caption,
        with_credits(py::str(texts::ready_all_box)));
}

void install_all_steps(py::handle self)
{
    if (on_windows())
        return tell_all_ready(self);
    py::list scripts;
    for (py::handle prog : global("PROGRAMS")) {
        py::object script = script_path(prog, "kur.sh");
        if (exists(script))
            scripts.append(script);
    }
    py::object after = make_after(self, [](py::handle window, bool ok, py::handle msg) {
            if (!ok)
                return report_failure(window, texts::install_error_caption, msg);
            window.attr("lbl_status").attr("setText")(texts::installed_all_status);
            global("QMessageBox").attr("information")(
                window, texts::installed_all_caption,
                with_credits(py::str(texts::installed_all_box)));
        });
    self.attr("_run_scripts_async")(scripts, texts::installing_all, after);
}

// ---- Kaldır ------------------------------------------------------------------------------------

void tell_not_removed(py::handle self, py::handle prog)
{
    py::str title = title_of(prog);
    self.attr("lbl_status").attr("setText")(py::str(texts::mark_removed) + title +
                                            py::str(texts::not_removed_status_tail));
    global("QMessageBox").attr("information")(self, texts::not_removed_caption,
                                              title + py::str(texts::not_removed_box_tail));
}

void uninstall_one_steps(py::handle self, py::handle prog)
{
    py::object script = script_path(prog, "kaldir.sh");
    if (!exists(script))
        return;
    if (on_windows())
        return tell_not_removed(self, prog);
    py::object box = global("QMessageBox");
    py::object ans = box.attr("question")(self, texts::uninstall_question_caption,
                                          title_of(prog) + py::str(texts::uninstall_question_tail),
                                          box.attr("Yes") | box.attr("No"), box.attr("No"));
    if (!ans.equal(box.attr("Yes")))
        return;
    py::object after = make_after(self, [prog = py::reinterpret_borrow<py::object>(prog)](
                                            py::handle window, bool ok, py::handle msg) {
            if (!ok)
                return report_failure(window, texts::uninstall_error_caption, msg);
            window.attr("lbl_status").attr("setText")(py::str(texts::mark_removed) + title_of(prog) +
                                                      py::str(texts::uninstalled_tail));
        });
    run_one(self, script, py::str(texts::mark_running) + title_of(prog) + py::str(texts::uninstalling_tail), after);
}

}  // namespace

py::object install_one_method()
{
    return window_method("install_one", {"self", "prog"}, {{"prog", "dict"}, {"return", "None"}}, [](const Call& call) {
        return reporting_failure(call[0], texts::install_error_caption, [&] { install_one_steps(call[0], call[1]); });
    });
}

py::object install_all_method()
{
    // Also the header button's slot: the click's flag lands in *_args and is ignored.
    return window_method("install_all", {"self"}, {{"return", "None"}}, [](const Call& call) {
        return reporting_failure(call[0], texts::install_error_caption, [&] { install_all_steps(call[0]); });
    }, "_args");
}

py::object uninstall_one_method()
{
    return window_method("uninstall_one", {"self", "prog"}, {{"prog", "dict"}, {"return", "None"}}, [](const Call& call) {
        return reporting_failure(call[0], texts::uninstall_error_caption, [&] { uninstall_one_steps(call[0], call[1]); });
    });
}

}  // namespace z47
