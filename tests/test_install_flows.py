"""Installing one tool and installing every tool: what runs, and what the user is told."""
import pytest

OK = "İşlem başarıyla tamamlandı."
TITLE = "Z47 Sistem ve Ağ Kontrol Merkezi"


def prog(centre, folder):
    return next(p for p in centre.PROGRAMS if p["folder"] == folder)


def until_done(qtbot, window):
    qtbot.waitUntil(lambda: not window._workers, timeout=60_000)


def logging_script(tool_tree, folder, name="kur.sh", status=0):
    return tool_tree.script(folder, name, f'echo "{folder}/{name}" >> "{tool_tree.log()}"\nexit {status}')


def test_successful_install_reports_success(window, qtbot, centre, tool_tree, boxes):
    logging_script(tool_tree, "z47-system-network")
    window.install_one(prog(centre, "z47-system-network"))
    assert window.lbl_status.text() == f"⏳ {TITLE} kuruluyor, lütfen bekleyin..."
    until_done(qtbot, window)
    assert tool_tree.logged() == ["z47-system-network/kur.sh"]
    assert window.lbl_status.text() == f"✓ {TITLE} başarıyla kuruldu ve başlatıldı."
    assert boxes.calls == [("information", window, "Kurulum Tamamlandı",
                            f"✓ {TITLE} başarıyla kuruldu ve başlatıldı!\n\n🛡️ " + centre.CREDITS_LINE)]


def test_failing_install_script_is_reported_as_failure(window, qtbot, centre, tool_tree, boxes):
    logging_script(tool_tree, "z47-system-network", status=2)
    window.install_one(prog(centre, "z47-system-network"))
    until_done(qtbot, window)
    msg = "z47-system-network/kur.sh betiği 2 çıkış koduyla sonlandı."
    assert boxes.calls == [("warning", window, "Kurulum Hatası", "Hata: " + msg)]
    assert window.lbl_status.text() == "⚠️ Hata: " + msg


def test_run_failure_reaches_status_and_box(window, qtbot, centre, tool_tree, boxes, monkeypatch):
    # A worker that fails the way a time-out does, without waiting 45 seconds.
    from PyQt5.QtCore import QThread, pyqtSignal

    class TimingOut(QThread):
        done_signal = pyqtSignal(bool, str)

        def __init__(self, scripts):
            super().__init__()

        def run(self):
            self.done_signal.emit(False, "süre doldu")

    monkeypatch.setattr(centre, "ScriptWorker", TimingOut)
    logging_script(tool_tree, "z47-delmo")
    window.install_one(prog(centre, "z47-delmo"))
    until_done(qtbot, window)
    assert window.lbl_status.text() == "⚠️ Hata: süre doldu"
    assert boxes.calls == [("warning", window, "Kurulum Hatası", "Hata: süre doldu")]


@pytest.mark.parametrize("platform, with_script", [("linux", False), ("win32", True), ("win32", False)])
def test_install_starts_the_tool_directly_when_no_script_is_to_run(
        window, centre, tool_tree, boxes, monkeypatch, platform, with_script):
    monkeypatch.setattr(centre.sys, "platform", platform)
    if with_script:
        logging_script(tool_tree, "z47-cloud")
    launched = []
    monkeypatch.setattr(window, "launch_one", lambda p: launched.append(p))
    record = prog(centre, "z47-cloud")
    window.install_one(record)
    assert launched == [record] and launched[0] is record
    assert window._workers == [] and boxes.calls == []
    assert window.lbl_status.text().startswith("Hazır")
    assert tool_tree.logged() == []


def test_install_all_runs_present_scripts_in_catalogue_order(window, qtbot, centre, tool_tree, boxes):
    for folder in ("z47-remote-desktop", "z47-linux-monitor", "z47-delmo"):
        logging_script(tool_tree, folder)
    window.install_all(False)
    assert window.lbl_status.text() == "⏳ Tüm Z47 programları arka planda kuruluyor..."
    until_done(qtbot, window)
    assert tool_tree.logged() == ["z47-linux-monitor/kur.sh", "z47-delmo/kur.sh", "z47-remote-desktop/kur.sh"]
    assert window.lbl_status.text() == "✓ Tüm Z47 yazılımları başarıyla kuruldu ve başlatıldı!"
    assert boxes.calls == [("information", window, "Z47 Kurulum Merkezi",
                            "✓ Tüm Z47 programları (Z47 Monitor, Z47 Morvek, Z47 Delmo, Z47 Sistem ve Ağ, "
                            "Z47 Sevra) başarıyla kuruldu!\n\n🛡️ " + centre.CREDITS_LINE)]


def test_install_all_with_nothing_present_still_reports_success(window, qtbot, tool_tree, boxes):
    window.install_all()
    until_done(qtbot, window)
    assert window.lbl_status.text() == "✓ Tüm Z47 yazılımları başarıyla kuruldu ve başlatıldı!"
    assert [c[2] for c in boxes.calls] == ["Z47 Kurulum Merkezi"]


def test_install_all_reports_a_failed_script_and_still_runs_the_rest(window, qtbot, tool_tree, boxes):
    logging_script(tool_tree, "z47-linux-monitor")
    logging_script(tool_tree, "z47-delmo", status=1)
    logging_script(tool_tree, "z47-system-network")
    logging_script(tool_tree, "z47-cloud", status=5)
    window.install_all(False)
    until_done(qtbot, window)
    assert tool_tree.logged() == ["z47-linux-monitor/kur.sh", "z47-delmo/kur.sh", "z47-system-network/kur.sh",
                                  "z47-cloud/kur.sh"]
    (kind, parent, caption, text), = boxes.calls
    assert (kind, caption) == ("warning", "Kurulum Hatası")
    msg = text[len("Hata: "):]
    assert "z47-delmo" in msg and "z47-cloud" in msg and "1" in msg and "5" in msg
    assert "z47-linux-monitor" not in msg and "z47-system-network" not in msg
    assert window.lbl_status.text() == "⚠️ Hata: " + msg


def test_install_all_on_windows_runs_nothing_and_reports_success(window, qtbot, centre, tool_tree, boxes,
                                                                  monkeypatch):
    monkeypatch.setattr(centre.sys, "platform", "win32")
    logging_script(tool_tree, "z47-delmo")
    window.install_all(False)
    until_done(qtbot, window)
    assert tool_tree.logged() == []
    assert window.lbl_status.text() == "✓ Tüm Z47 yazılımları başarıyla kuruldu ve başlatıldı!"


def test_two_quick_install_all_clicks_give_two_runs_and_two_boxes(window, qtbot, tool_tree, boxes):
    logging_script(tool_tree, "z47-delmo")
    window.install_all(False)
    window.install_all(False)
    assert len(window._workers) == 2
    until_done(qtbot, window)
    assert tool_tree.logged() == ["z47-delmo/kur.sh"] * 2
    assert [c[2] for c in boxes.calls] == ["Z47 Kurulum Merkezi"] * 2


def test_unreadable_tool_folder_is_reported_not_fatal(window, centre, boxes, monkeypatch):
    class Unreadable(type(centre.BASE_Z47_DIR)):
        def exists(self):
            raise PermissionError(13, "Permission denied", str(self))
    monkeypatch.setattr(centre, "BASE_Z47_DIR", Unreadable("/kilitli"))
    window.install_all(False)
    (kind, _, caption, text), = boxes.calls
    assert (kind, caption) == ("warning", "Kurulum Hatası")
    assert text == "Hata: [Errno 13] Permission denied: '/kilitli/z47-linux-monitor/kur.sh'"
    assert window.lbl_status.text() == "⚠️ " + text
