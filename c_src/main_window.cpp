// The main window.  The constructor only wires: header, card area (one card per catalogue
// record), status line, in the order a person sees them from top to bottom.  The actions the
// buttons call are the window's methods: the runner (background_runs.cpp), installing and
// removing (install_and_removal.cpp), starting a tool (tool_launch.cpp).  Closing the window while
// scripts run keeps it open until they have ended (closeEvent, at the end of this file).
#include "main_window.hpp"

#include "actions.hpp"
#include "background_runs.hpp"
#include "module.hpp"
#include "native_function.hpp"
#include "slot_support.hpp"
#include "styles.hpp"
#include "texts.hpp"

#include <Python.h>

#include <algorithm>
#include <string>
#include <vector>

namespace z47 {
namespace {

// ---- construction --------------------------------------------------------------------------

void set_window_icon(py::handle self)
{
    py::object base = global("BASE_Z47_DIR");
    py::object icon = base / py::str("z47-system-network") / py::str("assets") / py::str("icon_512.png");
    if (!truth(icon.attr("exists")()))
        icon = base / py::str("z47-linux-monitor") / py::str("assets") / py::str("icon_512.png");
    if (truth(icon.attr("exists")()))
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

// The click handler `_on_click(*_args)` of one card button: calls window.<action>(record) with
// the card's own record, through the window's method of that name (as a Python closure would,
// so a replaced method is obeyed).  The window is held weakly so that a card does not keep its
// window alive.
py::object make_click_handler(py::handle self, py::handle prog, const char* action)
{
    return callback("_on_click", [window_ref = weak(self), record = py::reinterpret_borrow<py::object>(prog),
                                  action](const py::args&) {
        py::object window = deref(window_ref);
        if (!window.is_none())
            from_slot(window_ref, [&] { window.attr(action)(record); });
    });
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
    btn.attr("setToolTip")(py::str(prog["title"]) + py::str(b.tooltip_tail));
    btn.attr("setStyleSheet")(self.attr("_btn_style")(b.bg, b.fg, b.border));
    btn.attr("clicked").attr("connect")(make_click_handler(self, prog, b.action));
    return btn;
}

void build_card(py::handle self, py::handle prog, py::handle cards_layout)
{
    py::object card = global("QFrame")();
    card.attr("setObjectName")("Card");
    // A screen reader names the card when focus enters it, so that "Kur ve Başlat" (six times
    // in the window) says which tool it belongs to.
    card.attr("setAccessibleName")(py::str(prog["title"]));
    card.attr("setAccessibleDescription")(py::str(prog["desc"]));
    py::object cl = global("QHBoxLayout")(card);
    cl.attr("setContentsMargins")(18, 14, 18, 14);
    cl.attr("setSpacing")(14);

    py::object info_col = global("QVBoxLayout")();
    info_col.attr("setSpacing")(4);
    py::object t_lbl = global("QLabel")(py::str(prog["title"]) + py::str("  (") + py::str(prog["version"]) + py::str(")"));
    t_lbl.attr("setFont")(clean_font(11));
    t_lbl.attr("setWordWrap")(true);
    t_lbl.attr("setStyleSheet")(style::card_title(py::str(prog["accent"]).cast<std::string>()));
    py::object d_lbl = global("QLabel")(py::str(prog["desc"]));
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
    // Not a stop of its own on the way through the buttons: it would show and say nothing.
    // A focused button scrolls itself into view.
    scroll.attr("setFocusPolicy")(global("Qt").attr("NoFocus"));

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
        super_of(defining_class(call), self).attr("__init__")();
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

// ---- opening on the screen at hand ---------------------------------------------------------
//
// The window opens at the size the constructor gave it where that fits the available area of
// its screen (the screen less task bars and panels, in the window's logical pixels), and
// otherwise as large as that area allows; its minimum shrinks only where the area is smaller
// still, and the window is moved inside the area.  The frame the window manager adds counts:
// it is known when the window is shown on Windows, and on X11 only once the window manager has
// framed it (the first move after showing), when the window is fitted once more.

bool frame_known(py::handle self)
{
    return !self.attr("frameGeometry")().attr("size")().equal(self.attr("geometry")().attr("size")());
}

void fit_to_screen(py::handle self)
{
    py::object screen = self.attr("screen")();
    if (screen.is_none())
        return;
    py::object area = screen.attr("availableGeometry")();
    py::object frame = self.attr("frameGeometry")();
    const int frame_w = frame.attr("width")().cast<int>() - self.attr("width")().cast<int>();
    const int frame_h = frame.attr("height")().cast<int>() - self.attr("height")().cast<int>();
    // At a fractional scale the window's size is rounded to the screen's pixels, which can add
    // one: a logical pixel less keeps the frame inside the area.
    const double ratio = screen.attr("devicePixelRatio")().cast<double>();
    const int rounding = ratio == static_cast<int>(ratio) ? 0 : 1;
    const int room_w = area.attr("width")().cast<int>() - frame_w - rounding;
    const int room_h = area.attr("height")().cast<int>() - frame_h - rounding;
    self.attr("setMinimumSize")(std::min(760, room_w), std::min(480, room_h));
    const int width = std::min(self.attr("width")().cast<int>(), room_w);
    const int height = std::min(self.attr("height")().cast<int>(), room_h);
    self.attr("resize")(width, height);

    const int left = area.attr("left")().cast<int>(), top = area.attr("top")().cast<int>();
    const int x = std::clamp(frame.attr("x")().cast<int>(), left, left + room_w - width);
    const int y = std::clamp(frame.attr("y")().cast<int>(), top, top + room_h - height);
    if (x != frame.attr("x")().cast<int>() || y != frame.attr("y")().cast<int>())
        self.attr("move")(x, y);
}

// Whether the window still waits for its frame, to be fitted once more.
constexpr const char* fit_pending = "_z47_fit_when_framed";

// A Qt event handler of the window, `name(self, event)`, made where its body is written.  Qt
// calls it for every such event; nothing may leave it (PyQt would end the process).  The class
// cell lets it reach the inherited handler.
template <typename F>
py::object event_handler(const char* name, py::list class_cell, F body,
                         std::source_location where = std::source_location::current())
{
    FunctionSpec spec{.name = name, .qualname = std::string("Z47InstallerCenter.") + name,
                      .params = {"self", "event"}, .file = file_name_of(where),
                      .line = static_cast<int>(where.line())};
    return make_function(std::move(spec), [body](const Call& call) -> py::object {
        from_slot(call[0], [&] { body(super_of(defining_class(call), call[0]), call[0], call[1]); });
        return py::none();
    }, py::make_tuple(class_cell));
}

py::object show_event_method(py::list class_cell)
{
    return event_handler("showEvent", class_cell, [](py::handle base, py::handle self, py::handle event) {
        base.attr("showEvent")(event);
        if (truth(event.attr("spontaneous")()) || truth(self.attr("property")("_z47_fitted")))
            return;
        self.attr("setProperty")("_z47_fitted", true);
        fit_to_screen(self);
        self.attr("setProperty")(fit_pending, !frame_known(self));
    });
}

py::object move_event_method(py::list class_cell)
{
    return event_handler("moveEvent", class_cell, [](py::handle base, py::handle self, py::handle event) {
        base.attr("moveEvent")(event);
        if (truth(self.attr("property")(fit_pending)) && frame_known(self)) {
            self.attr("setProperty")(fit_pending, false);
            fit_to_screen(self);
        }
    });
}

// ---- closing ---------------------------------------------------------------------------------

// closeEvent: a window closed while scripts run would leave a process with no window behind
// it, holding the single-instance guard until the scripts end.  It stays instead, with its
// buttons off and a line saying that it closes by itself, and goes once they have ended.
py::object close_event_method(py::list class_cell)
{
    return event_handler("closeEvent", class_cell, [](py::handle, py::handle self, py::handle event) {
        if (!scripts_running()) {
            event.attr("accept")();
            return;
        }
        event.attr("ignore")();
        for (py::handle button : self.attr("findChildren")(global("QPushButton")))
            button.attr("setEnabled")(false);
        self.attr("lbl_status").attr("setText")(texts::closing_when_done);
        close_when_scripts_end(self);
    });
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
    ns["_run_scripts_async"] = run_scripts_async_method();  // background_runs.cpp
    ns["install_one"] = install_one_method();                // install_and_removal.cpp
    ns["launch_one"] = launch_one_method();                  // tool_launch.cpp
    ns["uninstall_one"] = uninstall_one_method();            // install_and_removal.cpp
    ns["install_all"] = install_all_method();                // install_and_removal.cpp
    ns["showEvent"] = show_event_method(class_cell);
    ns["moveEvent"] = move_event_method(class_cell);
    ns["closeEvent"] = close_event_method(class_cell);
    py::object cls = make_class(global("QMainWindow"), "Z47InstallerCenter", ns);
    class_cell[0] = cls;
    return cls;
}

}  // namespace z47
