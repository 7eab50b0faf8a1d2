"""The centre for a person who does not use a mouse: a screen reader (through AT-SPI, as Orca
reads it) knows which tool each card and its buttons belong to and can install from a card and
answer the result box; the keyboard goes from button to button with no silent stop between."""
import json
import signal
import subprocess

import pytest
from PyQt5.QtCore import Qt
from PyQt5.QtWidgets import QApplication, QPushButton

from desktop import accessibility_bus, x_desktop
from helpers import PYTHON, ROOT, start_python

SCREEN_READER = ROOT / "tests" / "support" / "screen_reader.py"


@pytest.mark.slow
def test_a_screen_reader_knows_each_card_and_installs_from_one(tmp_path, centre):
    data_home = tmp_path / "data"
    with x_desktop(tmp_path / "desktop") as display, accessibility_bus(tmp_path / "session", display) as session:
        env = {**session, "QT_QPA_PLATFORM": "xcb", "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
               "XDG_DATA_HOME": str(data_home)}
        running = start_python("import Z47_Kurulum_Merkezi as m; m.main()", env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        try:
            reader = subprocess.run([PYTHON, str(SCREEN_READER), "Z47 Kurulum Merkezi", "2"], env=session,
                                    capture_output=True, text=True, timeout=120)
        finally:
            running.send_signal(signal.SIGTERM)  # closes the window as its close button does
            ended = running.wait(timeout=60)
            errors = running.stderr.read()
            running.stderr.close()
    assert reader.returncode == 0, reader.stderr[-2000:]
    assert ended == 0, errors[-2000:]
    found = json.loads(reader.stdout)
    assert found["cards"] == [[p["title"], p["desc"]] for p in centre.PROGRAMS]
    title = centre.PROGRAMS[2]["title"]
    assert found["box"] == {
        "title": "Kurulum Tamamlandı",
        "texts": [f"✓ {title} başarıyla kuruldu ve başlatıldı!\n\n🛡️ {centre.CREDITS_LINE}"],
        "buttons": ["Tamam"]}
    assert found["box_closed"]
    assert (data_home / "applications" / f"{centre.PROGRAMS[2]['folder']}.desktop").exists()


def focus_stop(widget) -> tuple:
    """A keyboard stop as a person meets it: the card it lies in (by its name) and its text."""
    text = widget.text() if hasattr(widget, "text") else type(widget).__name__
    return widget.parentWidget().accessibleName(), text


def test_tab_goes_from_button_to_button_without_a_silent_stop(window, qtbot, centre):
    window.show()
    QApplication.setActiveWindow(window)
    header_button = next(b for b in window.findChildren(QPushButton) if b.text() == "Tümünü Tek Tıkla Kur")
    header_button.setFocus()
    qtbot.waitUntil(lambda: QApplication.focusWidget() is header_button)
    # Header button, each card's three buttons, and round again to the header button.
    expected = ([("", "Tümünü Tek Tıkla Kur")]
                + [(p["title"], text) for p in centre.PROGRAMS for text in ("Kur ve Başlat", "Çalıştır", "Kaldır")]
                + [("", "Tümünü Tek Tıkla Kur")])
    stops = [focus_stop(header_button)]
    for _ in expected[1:]:
        qtbot.keyClick(QApplication.focusWidget(), Qt.Key_Tab)
        stops.append(focus_stop(QApplication.focusWidget()))
    assert stops == expected
