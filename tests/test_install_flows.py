"""Installing one tool and installing every tool: what runs, and what the user is told."""
import pytest

from vocabulary import ALL_INSTALLED, ALL_INSTALLED_BOX, ALL_INSTALLING, ALL_READY, ALL_READY_BOX, CREDITS, TITLES

TITLE = TITLES["z47-system-network"]

def test_successful_install_reports_success(window, qtbot, centre, tool_tree, boxes, until_done, record_of):
    tool_tree.logging_script("z47-system-network")
    window.install_one(record_of("z47-system-network"))
    assert window.lbl_status.text() == f"⏳ {TITLE} kuruluyor, lütfen bekleyin..."
    until_done(window)
    assert tool_tree.logged() == ["z47-system-network/kur.sh"]
    assert window.lbl_status.text() == f"✓ {TITLE} başarıyla kuruldu ve başlatıldı."
    assert boxes.calls == [("information", window, "Kurulum Tamamlandı",
                            f"✓ {TITLE} başarıyla kuruldu ve başlatıldı!\n\n🛡️ {CREDITS}")]


def test_run_failure_reaches_status_and_box(window, qtbot, centre, tool_tree, boxes, monkeypatch, until_done, record_of):
    # A worker that fails the way a time-out does, without waiting 45 seconds.
    from PyQt5.QtCore import QThread, pyqtSignal

    class TimingOut(QThread):
        done_signal = pyqtSignal(bool, str)

        def __init__(self, scripts):
            super().__init__()

        def run(self):
            self.done_signal.emit(False, "süre doldu")

    monkeypatch.setattr(centre, "ScriptWorker", TimingOut)
    tool_tree.logging_script("z47-delmo")
    window.install_one(record_of("z47-delmo"))
    until_done(window)
    assert window.lbl_status.text() == "⚠️ Hata: süre doldu"
    assert boxes.calls == [("warning", window, "Kurulum Hatası", "Hata: süre doldu")]


@pytest.mark.parametrize("platform, with_script", [("linux", False), ("win32", True), ("win32", False)])
def test_install_starts_the_tool_directly_when_no_script_is_to_run(
        window, centre, tool_tree, boxes, monkeypatch, platform, with_script, record_of):
    monkeypatch.setattr(centre.sys, "platform", platform)
    if with_script:
        tool_tree.logging_script("z47-cloud")
    launched = []
    monkeypatch.setattr(window, "launch_one", lambda p: launched.append(p))
    record = record_of("z47-cloud")
    window.install_one(record)
    assert launched == [record] and launched[0] is record
    assert window._workers == [] and boxes.calls == []
    assert window.lbl_status.text().startswith("Hazır")
    assert tool_tree.logged() == []


@pytest.mark.parametrize(
    "platform, present, ran",
    [
        ("linux", ["z47-remote-desktop", "z47-linux-monitor", "z47-delmo"],
         ["z47-linux-monitor/kur.sh", "z47-delmo/kur.sh", "z47-remote-desktop/kur.sh"]),
        ("linux", [], []),
    ],
    ids=["present-scripts-in-catalogue-order", "nothing-present"],
)
def test_install_all_runs_present_scripts_and_reports_success(window, centre, tool_tree, boxes, monkeypatch,
                                                              until_done, platform, present, ran):
    monkeypatch.setattr(centre.sys, "platform", platform)
    for folder in present:
        tool_tree.logging_script(folder)
    window.install_all(False)  # the button's clicked flag, ignored
    assert window.lbl_status.text() == ALL_INSTALLING
    until_done(window)
    assert tool_tree.logged() == ran
    assert window.lbl_status.text() == ALL_INSTALLED
    assert boxes.calls == [("information", window, "Z47 Kurulum Merkezi", ALL_INSTALLED_BOX)]


def test_install_all_on_windows_runs_nothing_and_claims_no_installation(window, centre, tool_tree, boxes, monkeypatch):
    # The tools come with the Windows package: the window says they are ready and where they
    # are started, at once, without a run.
    monkeypatch.setattr(centre.sys, "platform", "win32")
    tool_tree.logging_script("z47-delmo")
    window.install_all(False)
    assert window._workers == [] and tool_tree.logged() == []
    assert window.lbl_status.text() == ALL_READY
    assert boxes.calls == [("information", window, "Z47 Kurulum Merkezi", ALL_READY_BOX)]


def test_install_all_reports_the_failed_scripts_and_still_runs_the_rest(window, tool_tree, boxes, until_done):
    tool_tree.logging_script("z47-linux-monitor")
    tool_tree.logging_script("z47-delmo", extra="exit 1")
    tool_tree.logging_script("z47-system-network")
    tool_tree.logging_script("z47-cloud", extra="exit 5")
    window.install_all(False)
    until_done(window)
    assert tool_tree.logged() == ["z47-linux-monitor/kur.sh", "z47-delmo/kur.sh", "z47-system-network/kur.sh",
                                  "z47-cloud/kur.sh"]
    msg = "z47-delmo/kur.sh betiği 1 ve z47-cloud/kur.sh betiği 5 çıkış koduyla sonlandı."
    assert boxes.calls == [("warning", window, "Kurulum Hatası", "Hata: " + msg)]
    assert window.lbl_status.text() == "⚠️ Hata: " + msg


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
