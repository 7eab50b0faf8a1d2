#!/usr/bin/python3
"""How much script runs disturb the window's thread.

A 5 ms timer ticks on the GUI thread; the worst gap between two ticks is what a user feels as
a stutter.  It is measured idle, then while 6 and while 24 script runs are clicked together
and wait in the centre's queue (each run one real `bash` script that sleeps 0.2 s; the centre
runs them one at a time in click order, so 24 runs take about 5 s), several times each.  Runs are started the
way the window starts them: through a real window's `_run_scripts_async` (offscreen), or with
--direct as ScriptWorker(list) + done_signal.connect + start(), kept until `finished`.

Goals: 6 runs at most idle + 3 ms, 24 runs at most idle + 6 ms (compared on the medians).
For reference it also measures the same number of scripts started at once by another process:
what the machine's cores cost the window's thread when nothing in the centre's process works.

    /usr/bin/python3 bench/bench_gui_responsiveness.py [--repeat N] [--direct]
"""
import argparse
import os
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")
ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "build" / "centre"))

from PyQt5.QtCore import QEventLoop, Qt, QTimer  # noqa: E402
from PyQt5.QtWidgets import QApplication  # noqa: E402

import Z47_Kurulum_Merkezi as centre  # noqa: E402

TICK_MS = 5
SETTLE_S = 0.1  # ticks before the runs start, to leave start-up noise out
TAIL_S = 0.1  # ticks after the last result, so the threads' ends are measured too


class GapMeter:
    """Records the gaps between the ticks of a precise 5 ms timer on the GUI thread."""

    def __init__(self):
        self.timer = QTimer()
        self.timer.setTimerType(Qt.PreciseTimer)
        self.timer.setInterval(TICK_MS)
        self.timer.timeout.connect(self._tick)
        self.last = None
        self.gaps = []

    def _tick(self):
        now = time.perf_counter()
        if self.last is not None:
            self.gaps.append(now - self.last)
        self.last = now

    def start(self):
        self.last, self.gaps = None, []
        self.timer.start()

    def reset(self):
        self.gaps = []

    def stop(self):
        self.timer.stop()
        return max(self.gaps) * 1000 if self.gaps else float("nan")


def spin(seconds):
    loop = QEventLoop()
    QTimer.singleShot(int(seconds * 1000), loop.quit)
    loop.exec_()


def spin_until(done, limit_s=60):
    end = time.monotonic() + limit_s
    while not done():
        if time.monotonic() > end:
            raise RuntimeError("runs did not finish in time")
        spin(0.01)


class WindowStarter:
    """Starts runs through the window's own runner, as its buttons do."""

    def __init__(self):
        self.window = centre.Z47InstallerCenter()

    def start(self, scripts, on_finished):
        self.window._run_scripts_async(scripts, "⏳ ölçüm", on_finished)

    def idle(self):
        return not self.window._workers


class DirectStarter:
    """Starts ScriptWorker objects itself, holding each until its thread has finished."""

    def __init__(self):
        self.live = []

    def start(self, scripts, on_finished):
        worker = centre.ScriptWorker(scripts)
        self.live.append(worker)
        worker.done_signal.connect(on_finished)
        worker.finished.connect(lambda: self.live.remove(worker))
        worker.start()

    def idle(self):
        return not self.live


def measure(meter, starter, runs, script, idle_s):
    results = []
    meter.start()
    spin(SETTLE_S)
    meter.reset()
    if runs == 0:
        spin(idle_s)
    else:
        for _ in range(runs):
            starter.start([script], lambda ok, msg: results.append(ok))
        spin_until(lambda: len(results) == runs and starter.idle())
        spin(TAIL_S)
    worst = meter.stop()
    if not all(results):
        raise RuntimeError("a run failed")
    return worst


def measure_outside(meter, runs, script):
    """The same scripts started together by a separate shell: the cost of the load alone."""
    starter = subprocess.Popen(
        ["bash", "-c", f'read go; for i in $(seq {runs}); do bash "$1" & done; wait', "bash", str(script)],
        stdin=subprocess.PIPE,
    )
    meter.start()
    spin(SETTLE_S)
    meter.reset()
    starter.stdin.write(b"go\n")
    starter.stdin.flush()
    spin_until(lambda: starter.poll() is not None)
    spin(TAIL_S)
    return meter.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=7)
    parser.add_argument("--direct", action="store_true", help="drive ScriptWorker itself, not the window")
    args = parser.parse_args()

    app = QApplication.instance() or QApplication(sys.argv)  # noqa: F841 (keeps the app alive)
    meter = GapMeter()
    starter = DirectStarter() if args.direct else WindowStarter()
    with tempfile.TemporaryDirectory() as tmp:
        script = pathlib.Path(tmp) / "z47-bench" / "kur.sh"
        script.parent.mkdir()
        script.write_text("sleep 0.2\n")
        idle_s = 0.2 + TAIL_S  # about as long as a measurement with runs
        figures = {}
        for runs in (0, 6, 24):
            measure(meter, starter, runs, script, idle_s)  # warm-up, not counted
            figures[runs] = [measure(meter, starter, runs, script, idle_s) for _ in range(args.repeat)]
        outside = {runs: [measure_outside(meter, runs, script) for _ in range(args.repeat)] for runs in (6, 24)}

    how = "ScriptWorker directly" if args.direct else "the window's _run_scripts_async"
    print(f"worst gap of a {TICK_MS} ms timer on the GUI thread, {args.repeat} repetitions, runs via {how}")
    idle = statistics.median(figures[0])
    for runs, label, allowance in ((0, "idle", None), (6, "6 runs", 3), (24, "24 runs", 6)):
        values = figures[runs]
        median = statistics.median(values)
        line = f"  {label:8s} median {median:6.2f} ms   max {max(values):6.2f} ms   all " + \
            " ".join(f"{v:.1f}" for v in values)
        if allowance is not None:
            goal = idle + allowance
            line += f"   goal <= {goal:.2f} ms (idle + {allowance}): {'met' if median <= goal else 'NOT met'}"
        print(line)
    for runs in (6, 24):
        values = outside[runs]
        print(f"  reference: {runs} scripts started by another process, median {statistics.median(values):6.2f} ms"
              f"   max {max(values):6.2f} ms")


if __name__ == "__main__":
    main()
