"""The main window: its widget tree, texts, sizes, icon, and cards that act on their own record."""
import pytest
from PyQt5.QtCore import Qt
from PyQt5.QtWidgets import (QFrame, QHBoxLayout, QMenuBar, QPushButton, QScrollArea, QStatusBar,
                             QVBoxLayout)

from vocabulary import READY


def margins(layout):
    m = layout.contentsMargins()
    return (m.left(), m.top(), m.right(), m.bottom())


def cards(window):
    return [f for f in window.findChildren(QFrame, "Card")]


def test_window_title_sizes_and_status(window, centre):
    assert window.windowTitle() == "Z47 Masaüstü Araçları 5'i 1 Arada Kurulum Merkezi — " + centre.CREDITS_LINE
    assert (window.width(), window.height()) == (1120, 740)
    assert (window.minimumWidth(), window.minimumHeight()) == (760, 480)
    assert window._workers == []
    assert window.lbl_status.text() == READY
    # No menu bar and no status bar: the status line is the label at the foot of the central
    # widget.  Asked without statusBar(), which would make the bar it is asked about.
    assert window.menuWidget() is None
    assert window.findChildren(QMenuBar) == [] and window.findChildren(QStatusBar) == []


def layouts_of(window) -> dict:
    """The window's layouts by name, in the order a person sees them."""
    root = window.centralWidget().layout()
    header, scroll = root.itemAt(0).widget().layout(), root.itemAt(1).widget()
    card = cards(window)[0].layout()
    return {"window": root, "header": header, "header titles": header.itemAt(0).layout(),
            "card area": scroll.widget().layout(), "card": card, "card texts": card.itemAt(0).layout(),
            "card buttons": card.itemAt(1).layout()}


# Layout: margins (left, top, right, bottom), spacing, stretch of each item (None: not checked).
LAYOUTS = {
    "window": (QVBoxLayout, (18, 16, 18, 14), 10, [0, 1, 0]),
    "header": (QHBoxLayout, (16, 12, 16, 12), None, [1, 0]),
    "header titles": (QVBoxLayout, None, 3, None),
    "card area": (QVBoxLayout, (0, 0, 4, 0), 10, None),
    "card": (QHBoxLayout, (18, 14, 18, 14), 14, [1, 0]),
    "card texts": (QVBoxLayout, None, 4, None),
    "card buttons": (QHBoxLayout, None, 8, None),
}

# Fixed labels: text, style sheet, point size.
LABELS = [
    ("Z47 Masaüstü Araçları — Kurulum ve Yönetim Merkezi",
     "color: #166534; background: transparent; font-weight: 700;", 13),
    ("Tüm masaüstü araçlarını tek ekrandan kurabilir, başlatabilir veya yönetebilirsiniz.",
     "color: #15803D; background: transparent; font-weight: 600;", 10),
    (READY, "color: #475569; font-weight: 700;", 9),
]


def test_layouts_from_top_to_bottom(window):
    found = layouts_of(window)
    for name, (kind, margin, spacing, stretches) in LAYOUTS.items():
        layout = found[name]
        facts = (type(layout), margins(layout) if margin else None, layout.spacing() if spacing else None,
                 [layout.stretch(i) for i in range(layout.count())] if stretches else None)
        assert facts == (kind, margin, spacing, stretches), name
    root = found["window"]
    hdr, scroll, status = (root.itemAt(i).widget() for i in range(root.count()))
    assert hdr.objectName() == "HeaderCard" and isinstance(scroll, QScrollArea) and status is window.lbl_status
    assert scroll.widgetResizable() and scroll.frameShape() == QFrame.NoFrame
    assert scroll.styleSheet() == "QScrollArea { background: transparent; border: none; }"
    area = found["card area"]
    assert area.count() == 7 and area.itemAt(6).spacerItem() is not None  # six cards, packed at the top


def test_fixed_labels_and_the_header_button(window):
    titles = layouts_of(window)["header titles"]
    labels = [titles.itemAt(0).widget(), titles.itemAt(1).widget(), window.lbl_status]
    assert [(label.text(), label.styleSheet(), label.font().pointSize()) for label in labels] == LABELS
    button = layouts_of(window)["header"].itemAt(1).widget()
    assert (button.text(), button.height(), button.font().pointSize(), button.toolTip(), button.cursor().shape()) == (
        "Tümünü Tek Tıkla Kur", 38, 10, "Paketteki 5 masaüstü aracının tamamını tek tıkla sisteminize kurar.",
        Qt.PointingHandCursor)


def test_one_card_per_record_in_catalogue_order(window, centre):
    found = cards(window)
    assert len(found) == 6
    for card, prog in zip(found, centre.PROGRAMS):
        info_col, btn_col = card.layout().itemAt(0).layout(), card.layout().itemAt(1).layout()
        t_lbl, d_lbl = info_col.itemAt(0).widget(), info_col.itemAt(1).widget()
        assert [(label.text(), label.styleSheet(), label.font().pointSize(), label.wordWrap())
                for label in (t_lbl, d_lbl)] == [
            (f"{prog['title']}  ({prog['version']})",
             f"color: {prog['accent']}; background: transparent; font-weight: 700;", 11, True),
            (prog["desc"], "color: #334155; background: transparent; font-weight: 600;", 9, True)]
        buttons = [btn_col.itemAt(i).widget() for i in range(btn_col.count())]
        assert [(b.text(), b.toolTip(), b.styleSheet()) for b in buttons] == [
            ("Kur ve Başlat", prog["title"] + " aracını sisteminize kurar ve başlatır.",
             window._btn_style("#0284C7", "#FFFFFF", "#0369A1")),
            ("Çalıştır", prog["title"] + " masaüstü arayüzünü hemen açar.",
             window._btn_style("#ECFDF5", "#15803D", "#86EFAC")),
            ("Kaldır", prog["title"] + " kısayollarını sistemden kaldırır.",
             window._btn_style("#FEF2F2", "#DC2626", "#FCA5A5")),
        ]
        assert {(b.height(), b.font().pointSize(), b.cursor().shape()) for b in buttons} == {
            (36, 10, Qt.PointingHandCursor)}


def test_card_buttons_act_on_their_own_record(window, centre, qtbot, monkeypatch):
    calls = []
    for action in ("install_one", "launch_one", "uninstall_one"):
        monkeypatch.setattr(window, action, lambda prog, action=action: calls.append((action, prog)))
    found = cards(window)
    buttons = lambda card: card.findChildren(QPushButton)
    qtbot.mouseClick(buttons(found[2])[0], Qt.LeftButton)
    qtbot.mouseClick(buttons(found[0])[2], Qt.LeftButton)
    qtbot.mouseClick(buttons(found[5])[1], Qt.LeftButton)
    assert [(a, p["id"]) for a, p in calls] == [
        ("install_one", "z47-delmo"), ("uninstall_one", "z47-linux-monitor"), ("launch_one", "z47-remote-desktop")]
    assert calls[0][1] is centre.PROGRAMS[2]  # the record itself, not a copy


def test_install_all_button_calls_install_all(window, qtbot, tool_tree):
    button = [b for b in window.findChildren(QPushButton) if b.text() == "Tümünü Tek Tıkla Kur"][0]
    qtbot.mouseClick(button, Qt.LeftButton)
    assert window.lbl_status.text() == "⏳ Tüm Z47 programları arka planda kuruluyor..."


def test_an_error_in_a_card_action_is_reported_not_fatal(window, qtbot, monkeypatch):
    def broken(prog):
        raise KeyError("folder")
    monkeypatch.setattr(window, "launch_one", broken)
    reported = []
    import sys
    monkeypatch.setattr(sys, "unraisablehook", lambda info: reported.append(info.exc_value))
    qtbot.mouseClick(cards(window)[0].findChildren(QPushButton)[1], Qt.LeftButton)
    assert [type(e) for e in reported] == [KeyError]


@pytest.mark.parametrize("present, expected", [
    (["z47-system-network", "z47-linux-monitor"], "z47-system-network"),
    (["z47-linux-monitor"], "z47-linux-monitor"),
    ([], None),
])
def test_window_icon_comes_from_the_first_present_tool(qtbot, centre, tool_tree, present, expected):
    from PyQt5.QtGui import QColor, QImage
    colours = {"z47-system-network": QColor("#D97706"), "z47-linux-monitor": QColor("#15803D")}
    for folder in present:
        image = QImage(64, 64, QImage.Format_ARGB32)
        image.fill(colours[folder])
        (tool_tree.folder(folder) / "assets").mkdir()
        assert image.save(str(tool_tree.base / folder / "assets" / "icon_512.png"))
    win = centre.Z47InstallerCenter()
    qtbot.addWidget(win)
    icon = win.windowIcon()
    if expected is None:
        assert icon.isNull()
    else:
        pixel = icon.pixmap(16, 16).toImage().pixelColor(8, 8)
        assert pixel.name() == colours[expected].name()


def test_no_callback_keeps_a_dropped_window_alive(qtbot, centre, tool_tree, boxes, record_of):
    # Card click handlers, and a run's _done and _after while the run is still in flight,
    # hold the window weakly: once its user drops it, nothing else keeps it.  (Qt's connections
    # are invisible to the garbage collector, so a strong reference there would be a leak.)
    import gc
    import os
    import weakref

    hold = tool_tree.base / "hold"
    os.mkfifo(hold)
    tool_tree.logging_script("z47-delmo", extra=f'read -r _ < "{hold}"')
    win = centre.Z47InstallerCenter()
    win.install_one(record_of("z47-delmo"))
    [worker] = win._workers
    delivered = []
    worker.done_signal.connect(lambda ok, msg: delivered.append(ok))  # runs after the run's own _done
    dropped = weakref.ref(win)
    del win
    gc.collect()
    assert dropped() is None
    with open(hold, "w") as release:
        release.write("\n")
    qtbot.waitUntil(lambda: bool(delivered), timeout=30_000)
    assert delivered == [True] and boxes.calls == []  # the result reached no window
