"""The window's background runner: status text first, result on the GUI thread, each run's
worker kept until its result has arrived."""
from PyQt5.QtCore import QCoreApplication

from helpers import SUCCESS as OK


def wait_results(qtbot, results, count):
    qtbot.waitUntil(lambda: len(results) >= count, timeout=60_000)


def test_empty_run_shows_status_and_reports_success(window, qtbot):
    results = []
    window._run_scripts_async([], "⏳ deneme", lambda ok, msg: results.append((ok, msg)))
    assert window.lbl_status.text() == "⏳ deneme"
    assert len(window._workers) == 1
    wait_results(qtbot, results, 1)
    assert results == [(True, OK)]
    assert window._workers == []


def test_overlapping_runs_run_one_at_a_time_in_click_order(window, qtbot, tool_tree):
    # The first run's script is slow; the second must not start until it has ended.
    log = tool_tree.base / "order.log"
    slow = tool_tree.script("z47-delmo", "kur.sh", f'echo "birinci başladı" >> "{log}"; sleep 0.5; '
                                                   f'echo "birinci bitti" >> "{log}"; exit 3')
    fast = tool_tree.script("z47-cloud", "kur.sh", f'echo "ikinci başladı" >> "{log}"; exit 0')
    results = []
    window._run_scripts_async([slow], "⏳ birinci", lambda ok, msg: results.append(("slow", ok, msg)))
    window._run_scripts_async([fast], "⏳ ikinci", lambda ok, msg: results.append(("fast", ok, msg)))
    workers = list(window._workers)
    assert len(workers) == 2 and workers[0] is not workers[1]
    assert window.lbl_status.text() == "⏳ ikinci"  # the window did not wait for the queue
    wait_results(qtbot, results, 2)
    # Nothing more arrives: both threads are done and what they sent has been delivered.
    qtbot.waitUntil(lambda: all(worker.isFinished() for worker in workers), timeout=30_000)
    QCoreApplication.processEvents()
    assert results == [("slow", False, "z47-delmo/kur.sh betiği 3 çıkış koduyla sonlandı."), ("fast", True, OK)]
    assert log.read_text(encoding="utf-8").splitlines() == ["birinci başladı", "birinci bitti", "ikinci başladı"]
    assert window._workers == []


def test_status_is_written_before_the_result_arrives(window, qtbot):
    seen = []
    window._run_scripts_async([], "⏳ başladı", lambda ok, msg: seen.append(window.lbl_status.text()))
    wait_results(qtbot, seen, 1)
    assert seen == ["⏳ başladı"]


def test_a_failing_callback_is_reported_and_the_worker_still_released(window, qtbot, monkeypatch):
    import sys
    reported = []
    monkeypatch.setattr(sys, "unraisablehook", lambda info: reported.append(info.exc_value))

    def broken(ok, msg):
        raise ValueError("geri çağırma bozuk")

    window._run_scripts_async([], "⏳", broken)
    qtbot.waitUntil(lambda: bool(reported), timeout=60_000)
    assert [str(e) for e in reported] == ["geri çağırma bozuk"]
    assert window._workers == []
