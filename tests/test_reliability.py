"""Many runs, overlapping runs, and closing the window mid-run: each in a fresh process, which
must end normally with nothing destroyed under a running thread."""
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


@pytest.mark.parametrize("mode, count", [("serial", 200), ("parallel", 24)])
def test_many_runs_end_cleanly(tmp_path, mode, count):
    script = tmp_path / "kur.sh"
    script.write_text("exit 0\n")
    done = run_python(RUNS.replace("sys.argv[1]", repr(str(script))).replace("sys.argv[2]", repr(mode))
                      .replace("sys.argv[3]", repr(str(count))), timeout=300)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "Destroyed while thread" not in done.stderr
    assert json.loads(done.stdout.strip().splitlines()[-1]) == [count, True, 0]


def test_closing_the_window_lets_running_scripts_finish(tmp_path):
    marks = tmp_path / "marks"
    marks.mkdir()
    done = run_python(f"""
        import sys
        import Z47_Kurulum_Merkezi as m
        from PyQt5.QtCore import QTimer
        class App(m.QApplication):
            def exec_(self):
                win = [w for w in self.topLevelWidgets() if isinstance(w, m.Z47InstallerCenter)][0]
                for n in range(3):
                    script = m.Path({str(tmp_path)!r}) / f"kur{{n}}.sh"
                    script.write_text(f"sleep 1\\ntouch {str(marks)!r}/done{{n}}\\n")
                    win._run_scripts_async([script], "⏳", lambda ok, msg: None)
                QTimer.singleShot(100, win.close)
                return super().exec_()
        m.QApplication = App
        m.main()
    """, timeout=120)
    assert done.returncode == 0, done.stderr[-2000:]
    assert "Destroyed while thread" not in done.stderr
    assert sorted(p.name for p in marks.iterdir()) == ["done0", "done1", "done2"]
