"""Many runs, closing the window mid-run, the end of the process while scripts run, and a run
whose thread cannot start: each in a fresh process, which must end normally with nothing
destroyed under a running thread."""
import json

import pytest

from helpers import run_python

RUNS = """
    import json, sys
    import Z47_Kurulum_Merkezi as m
    from PyQt5.QtCore import QTimer
    app = m.QApplication(sys.argv)
    win = m.Z47InstallerCenter()
    script = m.Path(sys.argv[1])
    results = []
    MODE = sys.argv[2]
    COUNT = int(sys.argv[3])

    def record(ok, msg):
        results.append(ok)
        if MODE == "serial" and len(results) < COUNT:
            start()
        if len(results) == COUNT:
            QTimer.singleShot(0, app.quit)

    def start():
        win._run_scripts_async([script], "⏳", record)

    for _ in range(1 if MODE == "serial" else COUNT):
        start()
    app.exec_()
    print(json.dumps([len(results), all(results), len(win._workers)]))
"""


@pytest.mark.slow
@pytest.mark.parametrize("mode, count", [("serial", 200), ("parallel", 24)])
def test_many_runs_end_cleanly(tmp_path, mode, count):
    script = tmp_path / "kur.sh"
    script.write_text("exit 0\n")
    done = run_python(RUNS.replace("sys.argv[1]", repr(str(script))).replace("sys.argv[2]", repr(mode))
                      .replace("sys.argv[3]", repr(str(count))), timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "Destroyed while thread" not in done.stderr
    assert json.loads(done.stdout.strip().splitlines()[-1]) == [count, True, 0]


CLOSING_TEXT = "⏳ Çalışan betikler bitince pencere kendiliğinden kapanacak, lütfen bekleyin..."


def test_closing_mid_run_keeps_the_window_until_its_scripts_end(tmp_path):
    marks = tmp_path / "marks"
    marks.mkdir()
    done = run_python(f"""
        import json, os, sys
        import Z47_Kurulum_Merkezi as m
        from PyQt5.QtCore import QTimer
        marks = {str(marks)!r}
        class App(m.QApplication):
            def exec_(self):
                win = [w for w in self.topLevelWidgets() if isinstance(w, m.Z47InstallerCenter)][0]
                for n in range(3):
                    script = m.Path({str(tmp_path)!r}) / f"kur{{n}}.sh"
                    script.write_text(f"sleep 0.5\\ntouch {{marks}}/done{{n}}\\n")
                    win._run_scripts_async([script], "⏳", lambda ok, msg: None)
                def close():
                    win.close()
                    print(json.dumps([win.isVisible(),
                                      sorted({{b.isEnabled() for b in win.findChildren(m.QPushButton)}}),
                                      win.lbl_status.text()]), flush=True)
                QTimer.singleShot(100, close)
                # When the loop ends the window has closed itself: every script must be done.
                self.aboutToQuit.connect(lambda: print(json.dumps(sorted(os.listdir(marks))), flush=True))
                return super().exec_()
        m.QApplication = App
        m.main()
    """, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "Traceback" not in done.stderr and "Destroyed while thread" not in done.stderr
    after_close, at_quit = [json.loads(line) for line in done.stdout.strip().splitlines()[-2:]]
    # Still there, nothing to click, and saying why.
    assert after_close == [True, [False], CLOSING_TEXT]
    assert at_quit == ["done0", "done1", "done2"]


def test_workers_are_waited_for_at_exit_even_after_a_deleted_one(tmp_path):
    # No main, no event loop: a program that ends while a worker it started still runs.
    mark = tmp_path / "bitti"
    done = run_python(f"""
        import Z47_Kurulum_Merkezi as m
        from PyQt5 import sip
        quick = m.Path({str(tmp_path)!r}) / "hizli.sh"
        quick.write_text("exit 0\\n")
        slow = m.Path({str(tmp_path)!r}) / "yavas.sh"
        slow.write_text("sleep 0.5\\ntouch {mark}\\n")
        first = m.ScriptWorker([quick])
        first.start()
        first.wait()
        sip.delete(first)           # its Qt object is gone before the interpreter ends
        second = m.ScriptWorker([slow])
        second.start()
    """, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "Exception ignored" not in done.stderr and "has been deleted" not in done.stderr
    assert mark.exists()


def test_worker_taking_the_lock_back_during_shutdown_ends_quietly(tmp_path):
    # The exit wait is dropped, so the interpreter shuts down while a script runs; the script
    # ends during that shutdown and its worker asks for the interpreter back.  The runtime then
    # ends the worker's thread by unwinding it, which must not abort the process.
    done = run_python(f"""
        import atexit, time
        import Z47_Kurulum_Merkezi as m
        atexit._clear()
        script = m.Path({str(tmp_path)!r}) / "kur.sh"
        script.write_text("sleep 0.3\\n")
        worker = m.ScriptWorker([script])
        worker.start()
        time.sleep(0.1)             # the worker now waits for its script without the lock

        class SlowToGo:             # cleared with __main__ while the runtime shuts down
            def __init__(self, sleep, worker):
                self.sleep, self.worker = sleep, worker
            def __del__(self):
                self.sleep(1.5)     # lets go of the lock; the script ends meanwhile
        keep = SlowToGo(time.sleep, worker)
    """, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "terminate" not in done.stderr and "FATAL" not in done.stderr


def test_run_whose_thread_cannot_start_reports_failure_and_frees_the_queue(tmp_path):
    done = run_python(f"""
        import json, resource, sys
        import Z47_Kurulum_Merkezi as m
        from PyQt5.QtCore import QTimer
        app = m.QApplication(sys.argv)
        class Boxes:
            calls = []
            @staticmethod
            def warning(parent, title, text, *rest): Boxes.calls.append([title, text])
            @staticmethod
            def information(parent, title, text, *rest): Boxes.calls.append([title, text])
        m.QMessageBox = Boxes
        base = m.Path({str(tmp_path)!r})
        (base / "z47-delmo").mkdir()
        (base / "z47-delmo" / "kur.sh").write_text("exit 0\\n")
        m.BASE_Z47_DIR = base
        win = m.Z47InstallerCenter()
        delmo = next(p for p in m.PROGRAMS if p["folder"] == "z47-delmo")

        # No room left in the address space for a new thread's stack.
        with open("/proc/self/status") as f:
            size_kb = next(int(l.split()[1]) for l in f if l.startswith("VmSize:"))
        limits = resource.getrlimit(resource.RLIMIT_AS)
        resource.setrlimit(resource.RLIMIT_AS, ((size_kb + 2048) * 1024, limits[1]))
        win.install_one(delmo)
        resource.setrlimit(resource.RLIMIT_AS, limits)
        failed = [win.lbl_status.text(), list(Boxes.calls)]

        # A later run is not stuck behind the one that never ran.
        win.install_one(delmo)
        QTimer.singleShot(30000, app.quit)
        def check():
            if len(Boxes.calls) == 2:
                app.quit()
            else:
                QTimer.singleShot(20, check)
        check()
        app.exec_()
        print(json.dumps([failed, win.lbl_status.text(), Boxes.calls[1:]]))
    """, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    failed, later_status, later_boxes = json.loads(done.stdout.strip().splitlines()[-1])
    text = "Arka plan iş parçacığı başlatılamadı; betik çalıştırılmadı. Lütfen biraz sonra yeniden deneyin."
    assert failed == ["⚠️ Hata: " + text, [["Kurulum Hatası", "Hata: " + text]]]
    title = "Z47 Delmo — Parola, Not Defteri ve Form Yöneticisi"
    assert later_status == f"✓ {title} başarıyla kuruldu ve başlatıldı."
    assert [box[0] for box in later_boxes] == ["Kurulum Tamamlandı"]
