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


def test_layout_from_top_to_bottom(window):
    root = window.centralWidget()
    layout = root.layout()
    assert isinstance(layout, QVBoxLayout)
    assert margins(layout) == (18, 16, 18, 14) and layout.spacing() == 10
    items = [layout.itemAt(i).widget() for i in range(layout.count())]
    hdr, scroll, status = items
    assert hdr.objectName() == "HeaderCard" and isinstance(scroll, QScrollArea) and status is window.lbl_status
    assert [layout.stretch(i) for i in range(3)] == [0, 1, 0]

    hl = hdr.layout()
    assert isinstance(hl, QHBoxLayout) and margins(hl) == (16, 12, 16, 12)
    title_col, button = hl.itemAt(0).layout(), hl.itemAt(1).widget()
    assert hl.stretch(0) == 1 and title_col.spacing() == 3
    lbl_main, lbl_sub = title_col.itemAt(0).widget(), title_col.itemAt(1).widget()
    assert lbl_main.text() == "Z47 Masaüstü Araçları — Kurulum ve Yönetim Merkezi"
    assert lbl_main.styleSheet() == "color: #166534; background: transparent; font-weight: 700;"
    assert lbl_main.font().pointSize() == 13
    assert lbl_sub.text() == "Tüm masaüstü araçlarını tek ekrandan kurabilir, başlatabilir veya yönetebilirsiniz."
    assert lbl_sub.styleSheet() == "color: #15803D; background: transparent; font-weight: 600;"
    assert lbl_sub.font().pointSize() == 10
    assert button.text() == "Tümünü Tek Tıkla Kur" and button.height() == 38 and button.font().pointSize() == 10
    assert button.toolTip() == "Paketteki 5 masaüstü aracının tamamını tek tıkla sisteminize kurar."
    assert button.cursor().shape() == Qt.PointingHandCursor

    assert scroll.widgetResizable() and scroll.frameShape() == QFrame.NoFrame
    assert scroll.styleSheet() == "QScrollArea { background: transparent; border: none; }"
    cards_layout = scroll.widget().layout()
    assert margins(cards_layout) == (0, 0, 4, 0) and cards_layout.spacing() == 10
    assert cards_layout.count() == 7 and cards_layout.itemAt(6).spacerItem() is not None

    assert window.lbl_status.styleSheet() == "color: #475569; font-weight: 700;"
    assert window.lbl_status.font().pointSize() == 9


def test_one_card_per_record_in_catalogue_order(window, centre):
    found = cards(window)
    assert len(found) == 6
    for card, prog in zip(found, centre.PROGRAMS):
        cl = card.layout()
        assert margins(cl) == (18, 14, 18, 14) and cl.spacing() == 14 and cl.stretch(0) == 1
        info_col, btn_col = cl.itemAt(0).layout(), cl.itemAt(1).layout()
        t_lbl, d_lbl = info_col.itemAt(0).widget(), info_col.itemAt(1).widget()
        assert info_col.spacing() == 4 and btn_col.spacing() == 8
        assert t_lbl.text() == f"{prog['title']}  ({prog['version']})"
        assert t_lbl.styleSheet() == f"color: {prog['accent']}; background: transparent; font-weight: 700;"
        assert d_lbl.text() == prog["desc"]
        assert d_lbl.styleSheet() == "color: #334155; background: transparent; font-weight: 600;"
        assert t_lbl.wordWrap() and d_lbl.wordWrap()
        assert (t_lbl.font().pointSize(), d_lbl.font().pointSize()) == (11, 9)
        buttons = [btn_col.itemAt(i).widget() for i in range(btn_col.count())]
        assert [b.text() for b in buttons] == ["Kur ve Başlat", "Çalıştır", "Kaldır"]
        assert [b.toolTip() for b in buttons] == [
            prog["title"] + " aracını sisteminize kurar ve başlatır.",
            prog["title"] + " masaüstü arayüzünü hemen açar.",
            prog["title"] + " kısayollarını sistemden kaldırır.",
        ]
        assert [b.styleSheet() for b in buttons] == [
            window._btn_style("#0284C7", "#FFFFFF", "#0369A1"),
            window._btn_style("#ECFDF5", "#15803D", "#86EFAC"),
            window._btn_style("#FEF2F2", "#DC2626", "#FCA5A5"),
        ]
        assert all(b.height() == 36 and b.font().pointSize() == 10 for b in buttons)
        assert all(b.cursor().shape() == Qt.PointingHandCursor for b in buttons)


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
