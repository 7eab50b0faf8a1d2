#!/usr/bin/python3
"""Start-up cost of the centre: from process start to the first painted frame of main()'s
window, against a bare PyQt5 window of the same size, in the same run.

Each sample is a fresh process (offscreen).  The two kinds are interleaved, so that a busy
moment of the machine weighs on both alike; medians are compared.  Peak memory is the
children's maximum resident set size.

    bench_startup.py [--runs N]
"""
import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
STAGE = ROOT / "build" / "centre"
PYTHON = "/usr/bin/python3"

# Reports the monotonic clock once the window's first paint event has been handled, then
# leaves at once.  CLOCK_MONOTONIC is shared by every process on the machine.
FIRST_PAINT = """
import os, time
from PyQt5.QtCore import QEvent, QObject, QTimer
class FirstPaint(QObject):
    def eventFilter(self, obj, event):
        if event.type() == QEvent.Paint:
            QTimer.singleShot(0, self.report)
        return False
    def report(self):
        os.write(1, repr(time.monotonic()).encode() + b"\\n")
        os._exit(0)
watcher = FirstPaint()
"""

CENTRE = FIRST_PAINT + """
import Z47_Kurulum_Merkezi as m
class App(m.QApplication):
    def exec_(self):
        for w in self.topLevelWidgets():
            w.installEventFilter(watcher)
        return super().exec_()
m.QApplication = App
m.main()
"""

BARE = FIRST_PAINT + """
import sys
from PyQt5.QtWidgets import QApplication, QMainWindow
app = QApplication(sys.argv)
win = QMainWindow()
win.resize(1120, 740)
win.installEventFilter(watcher)
win.show()
app.exec_()
"""


def sample(code: str) -> tuple:
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", PYTHONPATH=str(STAGE))
    start = time.monotonic()
    proc = subprocess.Popen([PYTHON, "-c", code], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    if proc.returncode != 0 or not out.strip():
        raise RuntimeError(f"sample failed with {proc.returncode}")
    painted = float(out.decode().strip().splitlines()[-1])
    return (painted - start) * 1000.0, usage.ru_maxrss / 1024.0  # ms, MiB


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=21)
    args = parser.parse_args()

    sample(BARE), sample(CENTRE)  # warm the file cache; not counted
    times = {"bare": [], "centre": []}
    peaks = {"bare": [], "centre": []}
    for _ in range(args.runs):
        for name, code in (("bare", BARE), ("centre", CENTRE)):
            ms, mib = sample(code)
            times[name].append(ms)
            peaks[name].append(mib)

    bare_ms, centre_ms = statistics.median(times["bare"]), statistics.median(times["centre"])
    bare_mib, centre_mib = max(peaks["bare"]), max(peaks["centre"])
    print(f"runs per kind: {args.runs} (interleaved, offscreen)")
    print(f"first paint, median: bare window {bare_ms:.1f} ms, centre {centre_ms:.1f} ms")
    print(f"time ratio: {centre_ms / bare_ms:.3f}  (goal: at most 1.20)")
    print(f"peak memory: bare window {bare_mib:.1f} MiB, centre {centre_mib:.1f} MiB")
    print(f"memory: +{centre_mib - bare_mib:.1f} MiB, ratio {centre_mib / bare_mib:.3f}  (goal: at most +8 MiB)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
