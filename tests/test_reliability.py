"""Many runs, closing the window mid-run, the end of the process while scripts run, and a run
whose thread cannot start: each in a fresh process, which must end normally with nothing
destroyed under a running thread."""
import json
import os
import select
import signal
import subprocess
import time

import pytest

from helpers import SUCCESS, run_python, start_python

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
    done = run_python(RUNS, script, mode, count, timeout=300)
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
                # The queued runs' turns came meanwhile; the line still says why the window waits.
                self.aboutToQuit.connect(lambda: print(json.dumps([sorted(os.listdir(marks)), win.lbl_status.text()]),
                                                       flush=True))
                return super().exec_()
        m.QApplication = App
        m.main()
    """, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "Traceback" not in done.stderr and "Destroyed while thread" not in done.stderr
    after_close, at_quit = [json.loads(line) for line in done.stdout.strip().splitlines()[-2:]]
    # Still there, nothing to click, and saying why.
    assert after_close == [True, [False], CLOSING_TEXT]
    assert at_quit == [["done0", "done1", "done2"], CLOSING_TEXT]


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
    # ends the worker's thread by unwinding it, which must not abort the process.  Handshakes
    # make that order certain: the script ends only once the shutdown has begun, and the
    # shutdown goes on only once the worker has collected the script (its next step is to take
    # the interpreter back).
    shutting_down, collected = tmp_path / "kapaniyor", tmp_path / "toplandi"
    done = run_python("""
        import atexit, os, pathlib, sys, time
        import Z47_Kurulum_Merkezi as m
        atexit._clear()
        folder = pathlib.Path(sys.argv[1])
        script, pid_file = folder / "kur.sh", folder / "pid"
        script.write_text(f'echo $$ > "{pid_file}"\\nwhile [ ! -e "{sys.argv[2]}" ]; do sleep 0.01; done\\n')
        worker = m.ScriptWorker([script])
        worker.start()
        while not pid_file.exists():    # the worker now waits for its script without the lock
            time.sleep(0.01)

        class AtShutdown:               # cleared with __main__ while the runtime shuts down
            def __del__(self, open=open, exists=os.path.exists, sleep=time.sleep, argv=list(sys.argv)):
                pid = open(pid_file).read().strip()
                open(argv[2], "w").close()          # the script may end now
                for _ in range(3000):               # until the worker has collected it
                    if not exists("/proc/" + pid):
                        open(argv[3], "w").close()
                        break
                    sleep(0.01)
        keep = AtShutdown()
    """, tmp_path, shutting_down, collected, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "terminate" not in done.stderr and "FATAL" not in done.stderr
    assert shutting_down.exists() and collected.exists(), "the shutdown did not meet a running script"


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


# ---- signals ---------------------------------------------------------------------------------

# Two installs one after the other: the first kur.sh signals its own process group.
SIGNALLING_RUNS = """
    import json, sys
    import Z47_Kurulum_Merkezi as m
    from PyQt5.QtCore import QTimer
    app = m.QApplication(sys.argv)
    win = m.Z47InstallerCenter()
    results = []
    def record(ok, msg):
        results.append([ok, msg])
        if len(results) == 2:
            QTimer.singleShot(0, app.quit)
    for script in sys.argv[1:]:
        win._run_scripts_async([m.Path(script)], "⏳", record)
    app.exec_()
    print(json.dumps(results))
"""


@pytest.mark.parametrize(
    "body, signal_number",
    [("kill -TERM 0", 15), ("kill -HUP 0", 1), ("kill -INT 0", 2), ("trap 'kill 0' EXIT", 15)],
    ids=["TERM", "HUP", "INT", "trap-kill-0-on-exit"],
)
def test_a_script_that_signals_its_group_reaches_only_itself(tmp_path, body, signal_number):
    (tmp_path / "z47-delmo").mkdir()
    (tmp_path / "z47-cloud").mkdir()
    signalling = tmp_path / "z47-delmo" / "kur.sh"
    signalling.write_text(body + "\n")
    mark = tmp_path / "ikinci çalıştı"
    after = tmp_path / "z47-cloud" / "kur.sh"
    after.write_text(f'touch "{mark}"\n')
    # The centre leads its own process group, as a program started from a terminal does: a
    # signal to the script's group that reached the centre would not reach the tests too.
    centre = start_python(SIGNALLING_RUNS, signalling, after, start_new_session=True, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        out, errors = centre.communicate(timeout=120)
    finally:
        if centre.poll() is None:
            centre.kill()
            centre.communicate()
    assert centre.returncode == 0, errors[-2000:]
    # The run is reported, and the install queued behind it still runs.
    assert json.loads(out.strip().splitlines()[-1]) == [
        [False, f"z47-delmo/kur.sh betiği {signal_number} numaralı sinyalle sonlandı."],
        [True, SUCCESS]]
    assert mark.exists()


# The centre with its own controlling terminal, as when started from one; a script reads a
# line from it (its standard input) while the centre waits.
TERMINAL_READ = """
    import json, os, sys
    os.setsid()
    terminal = os.open(sys.argv[1], os.O_RDWR)  # the session's controlling terminal now
    for fd in (0, 1, 2):
        os.dup2(terminal, fd)
    import Z47_Kurulum_Merkezi as m
    from PyQt5.QtCore import QCoreApplication, Qt
    app = QCoreApplication(sys.argv)
    worker = m.ScriptWorker([m.Path(sys.argv[2])])
    results = []
    worker.done_signal.connect(lambda ok, msg: results.append([ok, msg]), Qt.DirectConnection)
    worker.start()
    worker.wait()
    with open(sys.argv[3], "w") as out:
        json.dump(results, out)
"""


def test_a_script_reads_the_centres_terminal(tmp_path):
    # A script in a session of its own has no controlling terminal: job control cannot stop it
    # for reading the one it inherited as standard input.
    import pty
    line_file, result_file = tmp_path / "okunan", tmp_path / "sonuç.json"
    waiting = tmp_path / "bekliyor"
    script = tmp_path / "kur.sh"
    script.write_text(f'touch "{waiting}"\nread -r line\necho "$line" > "{line_file}"\n')
    master, slave = pty.openpty()
    try:
        centre = start_python(TERMINAL_READ, os.ttyname(slave), script, result_file,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(slave)
        slave = None
        deadline = time.monotonic() + 60
        while not waiting.exists() and centre.poll() is None and time.monotonic() < deadline:
            time.sleep(0.02)
        assert waiting.exists(), "the script never started"
        os.write(master, "merhaba dünya\n".encode())
        assert centre.wait(timeout=30) == 0
    finally:
        os.close(master)
        if slave is not None:
            os.close(slave)
    assert json.loads(result_file.read_text()) == [[True, SUCCESS]]
    assert line_file.read_text(encoding="utf-8") == "merhaba dünya\n"


# The centre as its start command runs it (main), with an install running; the window's
# close requests are written down as they come.
CENTRE_UNDER_SIGNAL = """
    import json, sys
    import Z47_Kurulum_Merkezi as m
    def report(*what):
        print(json.dumps(what), flush=True)
    class Boxes:
        Yes, No, Ok = m.QMessageBox.Yes, m.QMessageBox.No, m.QMessageBox.Ok
        @staticmethod
        def information(parent, title, text, *rest): report("box", title)
        @staticmethod
        def warning(parent, title, text, *rest): report("box", title, text)
    m.QMessageBox = Boxes
    m.BASE_Z47_DIR = m.Path(sys.argv[1])
    class Centre(m.Z47InstallerCenter):
        def closeEvent(self, event):
            super().closeEvent(event)
            report("close", event.isAccepted(), self.lbl_status.text())
    m.Z47InstallerCenter = Centre
    class App(m.QApplication):
        def exec_(self):
            window = next(w for w in self.topLevelWidgets() if isinstance(w, Centre))
            window.install_one(next(p for p in m.PROGRAMS if p["folder"] == "z47-delmo"))
            self.aboutToQuit.connect(lambda: report("quit"))
            return super().exec_()
    m.QApplication = App
    m.main()
"""


def read_report(process, timeout=60):
    """The next line the centre reports, or None when it ends or says nothing in time."""
    ready, _, _ = select.select([process.stdout], [], [], timeout)
    line = process.stdout.readline() if ready else ""
    return json.loads(line) if line else None


def release_if_held(fifo):
    try:
        held = os.open(fifo, os.O_WRONLY | os.O_NONBLOCK)
    except OSError:  # nobody is reading it
        return
    os.write(held, b"go\n")
    os.close(held)


@pytest.mark.parametrize("signal_name", ["SIGINT", "SIGTERM", "SIGHUP"])
def test_a_signal_closes_the_centre_as_its_close_button_does(tmp_path, signal_name):
    (tmp_path / "z47-delmo").mkdir()
    started, hold = tmp_path / "başladı", tmp_path / "bekle"
    os.mkfifo(hold)
    (tmp_path / "z47-delmo" / "kur.sh").write_text(f'touch "{started}"\nread -r line < "{hold}"\n')
    centre = start_python(CENTRE_UNDER_SIGNAL, tmp_path, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True)
    try:
        deadline = time.monotonic() + 60
        while not started.exists() and centre.poll() is None and time.monotonic() < deadline:
            time.sleep(0.02)
        assert started.exists(), "the install never started"
        centre.send_signal(getattr(signal, signal_name))
        # As a click on the close button while a script runs: the window stays and says why.
        assert read_report(centre) == ["close", False, CLOSING_TEXT]
        with open(hold, "w") as release:
            release.write("go\n")
        # The run still reports (the signal took no later action with it), then the window goes.
        assert read_report(centre) == ["box", "Kurulum Tamamlandı"]
        assert read_report(centre)[:2] == ["close", True]
        assert read_report(centre) == ["quit"]
        assert centre.wait(timeout=60) == 0
    finally:
        if centre.poll() is None:
            centre.kill()
        centre.wait()
        release_if_held(hold)  # a script left waiting by a centre that died
        errors = centre.stderr.read()
        centre.stdout.close()
        centre.stderr.close()
    assert "Traceback" not in errors and "Exception ignored" not in errors, errors
