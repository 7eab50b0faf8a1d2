"""One run of scripts at a time across the whole centre, in click order: a double click runs a
tool's kur.sh twice one after the other, and a removal clicked after an install runs after it.
Each click keeps its own status text and its own result."""
import os
import threading
import time

import pytest

from vocabulary import TITLES

TITLE = TITLES["z47-delmo"]


@pytest.fixture
def delmo(record_of):
    return record_of("z47-delmo")


def entry_scripts(tool_tree):
    """An install that writes its menu entry through a temporary file of a fixed name (as the
    tools' own scripts do), and a removal that deletes the entry.  Two installs at once trip
    over each other's temporary file; an install that ends after a removal leaves the entry."""
    entry, temporary = tool_tree.base / "z47-delmo.desktop", tool_tree.base / "z47-delmo.desktop.tmp"
    tool_tree.script("z47-delmo", "kur.sh",
                     f'set -e\necho "kur başladı" >> "{tool_tree.log()}"\n'
                     f'echo "[Desktop Entry]" > "{temporary}"\nsleep 0.4\nmv "{temporary}" "{entry}"\n'
                     f'echo "kur bitti" >> "{tool_tree.log()}"')
    tool_tree.script("z47-delmo", "kaldir.sh", f'rm -f "{entry}"\necho "kaldır" >> "{tool_tree.log()}"')
    return entry


def test_double_click_installs_twice_one_after_the_other(window, qtbot, tool_tree, boxes, delmo, until_done):
    entry = entry_scripts(tool_tree)
    window.install_one(delmo)
    window.install_one(delmo)
    assert window.lbl_status.text() == f"⏳ {TITLE} kuruluyor, lütfen bekleyin..."
    until_done(window)
    assert tool_tree.logged() == ["kur başladı", "kur bitti"] * 2
    assert entry.exists()
    assert [call[:3] for call in boxes.calls] == [("information", window, "Kurulum Tamamlandı")] * 2
    assert window.lbl_status.text() == f"✓ {TITLE} başarıyla kuruldu ve başlatıldı."


def test_removal_clicked_during_an_install_runs_after_it(window, qtbot, tool_tree, boxes, delmo, until_done):
    entry = entry_scripts(tool_tree)
    window.install_one(delmo)
    boxes.answer = boxes.Yes
    window.uninstall_one(delmo)
    assert window.lbl_status.text() == f"⏳ {TITLE} kaldırılıyor..."
    until_done(window)
    assert tool_tree.logged() == ["kur başladı", "kur bitti", "kaldır"]
    assert not entry.exists()  # the tool is not left installed
    assert [call[0:3] for call in boxes.calls] == [("question", window, "Kaldırma Onayı"),
                                                    ("information", window, "Kurulum Tamamlandı")]
    assert window.lbl_status.text() == f"🛑 {TITLE} kaldırıldı."


def test_runs_of_two_windows_share_one_queue(qtbot, centre, tool_tree, boxes):
    # The queue belongs to the centre, not to one window: a script of another window waits too.
    log = tool_tree.log()
    first = tool_tree.script("z47-delmo", "kur.sh", f'echo "1 başladı" >> "{log}"; sleep 0.3; echo "1 bitti" >> "{log}"')
    second = tool_tree.script("z47-cloud", "kur.sh", f'echo "2 başladı" >> "{log}"')
    windows = [centre.Z47InstallerCenter(), centre.Z47InstallerCenter()]
    results = []
    windows[0]._run_scripts_async([first], "⏳", lambda ok, msg: results.append(ok))
    windows[1]._run_scripts_async([second], "⏳", lambda ok, msg: results.append(ok))
    qtbot.waitUntil(lambda: len(results) == 2, timeout=60_000)
    assert tool_tree.logged() == ["1 başladı", "1 bitti", "2 başladı"]
    for win in windows:
        qtbot.waitUntil(lambda: not win._workers, timeout=60_000)
        win.deleteLater()


# ---- what the window shows while runs wait for each other ------------------------------------

def held_script(tool_tree, folder, name, fifo, then=""):
    """A script that waits until the test writes a line to `fifo`, then runs `then`."""
    return tool_tree.script(folder, name, f'read -r line < "{fifo}"\n{then}')


def release(fifo):
    with open(fifo, "w") as held:  # opens once the script is reading the other end
        held.write("go\n")


@pytest.fixture
def fifos(tmp_path):
    made = [tmp_path / f"hold{n}" for n in (1, 2)]
    for fifo in made:
        os.mkfifo(fifo)
    return made


CLOUD = TITLES["z47-cloud"]


def test_a_queued_run_shows_its_text_again_when_its_turn_comes(window, qtbot, tool_tree, boxes, delmo, record_of,
                                                               fifos, until_done):
    started = tool_tree.base / "kaldırma başladı"
    held_script(tool_tree, "z47-cloud", "kur.sh", fifos[0])
    held_script(tool_tree, "z47-delmo", "kaldir.sh", fifos[1]).write_text(
        f'touch "{started}"\nread -r line < "{fifos[1]}"\n')
    window.install_one(record_of("z47-cloud"))
    boxes.answer = boxes.Yes
    window.uninstall_one(delmo)
    release(fifos[0])
    qtbot.waitUntil(lambda: ("information", window, "Kurulum Tamamlandı") in [c[:3] for c in boxes.calls])
    # The install's result has had its box; the removal now runs, and the line says so.
    qtbot.waitUntil(lambda: window.lbl_status.text() == f"⏳ {TITLE} kaldırılıyor...")
    qtbot.waitUntil(started.exists)
    assert window.lbl_status.text() == f"⏳ {TITLE} kaldırılıyor..."
    release(fifos[1])
    until_done(window)
    assert window.lbl_status.text() == f"🛑 {TITLE} kaldırıldı."


def test_a_script_deleted_while_its_run_waits_is_a_failure(window, qtbot, tool_tree, boxes, delmo, record_of,
                                                           fifos, until_done):
    held_script(tool_tree, "z47-cloud", "kur.sh", fifos[0])
    doomed = tool_tree.logging_script("z47-delmo")
    window.install_one(record_of("z47-cloud"))
    window.install_one(delmo)  # its kur.sh is there at the click
    doomed.unlink()
    release(fifos[0])
    until_done(window)
    message = "z47-delmo/kur.sh betiği sırası geldiğinde bulunamadı."
    assert [call[:4] for call in boxes.calls] == [
        ("information", window, "Kurulum Tamamlandı", f"✓ {CLOUD} başarıyla kuruldu ve başlatıldı!\n\n🛡️ "
                                                      "Z47 Yazılım Ekibi ve Tevrix Geliştiricileri tarafından hazırlanmıştır."),
        ("warning", window, "Kurulum Hatası", f"Hata: {message}")]
    assert window.lbl_status.text() == f"⚠️ Hata: {message}"
    assert tool_tree.logged() == []


class SlowFolderNames:
    """Stands in for the module's `os`: on a worker thread the first file name it is asked for
    (os.path.basename) waits until `overtaken()` holds, or 3 seconds have passed.  A run naming
    a failed script then takes its time over the message, and a run let go too early overtakes
    it; a run that keeps its turn until its result is sent cannot."""

    class Path:
        def __init__(self, overtaken):
            self.overtaken, self.waited = overtaken, False

        def basename(self, path):
            if not self.waited and threading.current_thread() is not threading.main_thread():
                self.waited = True
                deadline = time.monotonic() + 3
                while not self.overtaken() and time.monotonic() < deadline:
                    time.sleep(0.01)
            return os.path.basename(path)

        def __getattr__(self, name):
            return getattr(os.path, name)

    def __init__(self, overtaken):
        self.path = self.Path(overtaken)

    def __getattr__(self, name):
        return getattr(os, name)


def test_results_come_back_in_click_order(window, qtbot, tool_tree, boxes, delmo, centre, monkeypatch, until_done):
    tool_tree.logging_script("z47-delmo", extra="exit 1")
    tool_tree.logging_script("z47-delmo", "kaldir.sh")
    removal_done = lambda: len(window._workers) == 2 and window._workers[1].isFinished()
    monkeypatch.setattr(centre, "os", SlowFolderNames(removal_done))
    window.install_one(delmo)  # fails: its message names the script
    boxes.answer = boxes.Yes
    window.uninstall_one(delmo)
    until_done(window)
    failure = "z47-delmo/kur.sh betiği 1 çıkış koduyla sonlandı."
    assert [call[:3] for call in boxes.calls] == [("question", window, "Kaldırma Onayı"),
                                                  ("warning", window, "Kurulum Hatası")]
    assert boxes.calls[1][3] == f"Hata: {failure}"
    assert window.lbl_status.text() == f"🛑 {TITLE} kaldırıldı."  # the later click's result is the last word


# ---- texts made from folder names the file system allows but UTF-8 does not ------------------

@pytest.fixture(params=[b"Kurulum \xff\xfe", "Kurulum \ud800"], ids=["not-utf-8", "lone-surrogate"])
def odd_base(request, tmp_path, monkeypatch, centre):
    """A base folder whose name is not valid UTF-8 (kept by Python as escaped bytes), or holds a
    lone surrogate, which no file system name can encode."""
    name = request.param
    if isinstance(name, bytes):
        raw = os.fsencode(tmp_path) + b"/" + name
        os.makedirs(raw + b"/z47-delmo")
        base = os.fsdecode(raw)
    else:
        base = str(tmp_path / name)
    monkeypatch.setattr(centre, "BASE_Z47_DIR", centre.Path(base))
    return base


def test_odd_folder_names_reach_the_box_as_the_file_system_names_them(window, boxes, odd_base):
    record = {"id": "tuhaf", "title": "Tuhaf", "run_cmd": ["/usr/bin/python3", odd_base + "/tuhaf/app.py"]}
    window.launch_one(record)
    (kind, parent, caption, text), = boxes.calls
    assert (kind, caption) == ("warning", "Başlatma Hatası")
    assert text == f"Hata: Başlatılacak dosya bulunamadı: {odd_base}/tuhaf/app.py"


def test_install_from_a_folder_whose_name_is_not_utf_8_is_reported_readably(
        window, qtbot, boxes, delmo, tmp_path, monkeypatch, centre, until_done):
    raw = os.fsencode(tmp_path) + b"/Kurulum \xff\xfe"
    os.makedirs(raw + b"/z47-delmo")
    with open(raw + b"/z47-delmo/kur.sh", "w") as script:
        script.write("exit 5\n")
    monkeypatch.setattr(centre, "BASE_Z47_DIR", centre.Path(os.fsdecode(raw)))
    window.install_one(delmo)
    until_done(window)
    assert boxes.calls == [("warning", window, "Kurulum Hatası",
                            "Hata: z47-delmo/kur.sh betiği 5 çıkış koduyla sonlandı.")]
