"""One run of scripts at a time across the whole centre, in click order: a double click runs a
tool's kur.sh twice one after the other, and a removal clicked after an install runs after it.
Each click keeps its own status text and its own result."""
import os

import pytest

TITLE = "Z47 Delmo — Parola, Not Defteri ve Form Yöneticisi"


@pytest.fixture
def delmo(centre):
    return next(p for p in centre.PROGRAMS if p["folder"] == "z47-delmo")


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
