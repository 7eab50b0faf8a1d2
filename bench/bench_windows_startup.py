#!/usr/bin/python3
"""Start-up of the Windows package under wine: from process start to the first painted frame of
the centre's main window, against a bare PyQt5 window started the same way.

Both kinds run through the same launcher, the same embedded runtime and PyQt5, in the same wine
prefix on the same Xvfb.  Each kind has its own copy of the package (hard links) under a
temporary folder in build/; the bare copy has no centre module but a Z47_Kurulum_Merkezi.py whose
main() shows an empty QMainWindow of the centre's size (1120x740).  Both copies get the same
first-frame hook: their python312._pth gains an "import site" line, so the runtime imports
scripts/first_frame_hook.py, as sitecustomize, from the package folder, which writes the wall clock after the
main window's first paint and closes the window.  Both kinds pay the same for that.

A sample is `wine <launcher>.exe` as a fresh process, timed with time.time_ns() on both sides
(under wine the runtime's clock is the host's real-time clock; every stamp is checked to fall
between the sample's start and its end, and the painted window must be the centre's, by its
title).  Starting wine itself is part of every sample, on both sides alike; the "runtime up"
column (until the runtime imports the hook: wine's own start, the launcher and the interpreter's
start) shows that shared part.
Samples are interleaved in alternating order after one uncounted warm-up start of each kind
(the first start of a program in a fresh prefix is much slower), and each sample ends before
the next begins (the launcher holds a single-instance mutex).  Peak memory is the process's
maximum resident set size as the host sees it (wait4), which under wine includes wine's own
loader and DLLs; the peak working set the process itself reports at first frame is printed
beside it.

    bench_windows_startup.py [--runs N]
"""
import argparse
import os
import pathlib
import shutil
import statistics
import sys
import tempfile
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path[:0] = [str(ROOT / "tests" / "launcher"), str(ROOT / "tests")]  # launcher_env needs helpers

from launcher_env import (BUILD, CENTRE_TITLE, LAUNCHER_NAME, MODULE_PYD, PACKAGE, Wine,  # noqa: E402
                          WineUnavailable, link_tree, windows_parts_missing, windows_path, wine_session)

HOOK = ROOT / "scripts" / "first_frame_hook.py"
SAMPLE_TIMEOUT = 180  # seconds; a start that takes longer has hung

BARE_WINDOW = '''\
"""An empty main window of the centre's size, started the way the centre is."""
import sys

from PyQt5.QtWidgets import QApplication, QMainWindow


def main():
    app = QApplication(sys.argv)
    window = QMainWindow()
    window.resize(1120, 740)
    window.show()
    code = app.exec_()
    raise SystemExit(code)
'''


def lay_out(folder: pathlib.Path, bare: bool) -> pathlib.Path:
    """A copy of the package with the first-frame hook; returns its launcher."""
    link_tree(PACKAGE, folder)
    # The files are hard links into the built package: replace them, never write into them.
    pth = folder / "python312._pth"
    lines = pth.read_bytes()
    pth.unlink()
    pth.write_bytes(lines.rstrip(b"\r\n") + b"\r\nimport site\r\n")
    shutil.copy2(HOOK, folder / "sitecustomize.py")
    if bare:
        (folder / MODULE_PYD).unlink()
        (folder / "Z47_Kurulum_Merkezi.py").write_text(BARE_WINDOW, encoding="utf-8")
    return folder / f"{LAUNCHER_NAME}.exe"


def sample(wine: Wine, launcher: pathlib.Path, frame: pathlib.Path, title: str) -> dict:
    """One start to the first painted frame and on to the process's end; the painted window's
    title must start with `title`."""
    frame.unlink(missing_ok=True)
    env = {"Z47_FIRST_FRAME": windows_path(frame)}
    start = time.time_ns()
    process = wine.start(launcher, cwd=launcher.parent.parent, env=env)
    watchdog = threading.Timer(SAMPLE_TIMEOUT, process.kill)
    watchdog.start()
    try:
        _, status, usage = os.wait4(process.pid, 0)
    finally:
        watchdog.cancel()
    end = time.time_ns()
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0 or not frame.exists():
        raise SystemExit(f"{launcher.parent.parent.name}: the launcher ended with {process.returncode}"
                         f" without a painted frame")
    runtime_up, painted, peak_ws, painted_title = frame.read_text(encoding="utf-8").split("\t", 3)
    if not painted_title.startswith(title):
        raise SystemExit(f"the first painted main window is {painted_title.strip()!r}, not {title!r}")
    runtime_up, painted = int(runtime_up), int(painted)
    if not start < runtime_up < painted < end:
        raise SystemExit("the runtime's clock does not match the host's: stamps outside the sample")
    return {
        "frame": (painted - start) / 1e6,
        "runtime": (runtime_up - start) / 1e6,
        "cpu": (usage.ru_utime + usage.ru_stime) * 1e3,
        "rss": usage.ru_maxrss / 1024,
        "ws": int(peak_ws) / 2**20,
    }


def quartiles(values) -> tuple:
    q1, q2, q3 = statistics.quantiles(values, n=4)
    return q1, q2, q3


def report(runs: int, results: dict, load: tuple):
    print(f"start-up to first painted frame under wine (Xvfb), {runs} interleaved runs each;"
          f" every sample includes starting wine itself")
    print(f"  host load average (1 min) {load[0]:.2f} before the samples, {load[1]:.2f} after,"
          f" on {os.cpu_count()} CPUs: other work on the host widens the spread")
    for name, samples in results.items():
        frame = [s["frame"] for s in samples]
        q1, q2, q3 = quartiles(frame)
        print(f"  {name:6} median {statistics.median(frame):7.1f} ms  quartiles {q1:7.1f} .. {q3:7.1f}"
              f"  min {min(frame):7.1f}  max {max(frame):7.1f}")
        print(f"  {'':6} runtime up {statistics.median(s['runtime'] for s in samples):7.1f} ms"
              f"  CPU {statistics.median(s['cpu'] for s in samples):7.1f} ms"
              f"  peak RSS {statistics.median(s['rss'] for s in samples):6.1f} MiB"
              f"  (peak working set at first frame {statistics.median(s['ws'] for s in samples):6.1f} MiB)")
    centre = [s["frame"] for s in results["centre"]]
    bare = [s["frame"] for s in results["bare"]]
    # Each centre run against the bare run of the same round: a slow moment weighs on both.
    pairs = [c / b for c, b in zip(centre, bare)]
    p1, p2, p3 = quartiles(pairs)
    print(f"  centre/bare: {statistics.median(centre) / statistics.median(bare):.2f} between medians,"
          f" {statistics.median(pairs):.2f} median of pairs (quartiles {p1:.2f} .. {p3:.2f}),"
          f" {statistics.median(centre) - statistics.median(bare):+.1f} ms between medians")
    for name, values in (("centre", centre), ("bare", bare)):
        q1, _, q3 = quartiles(values)
        print(f"  spread {name:6}: interquartile range {q3 - q1:6.1f} ms"
              f" ({(q3 - q1) / statistics.median(values) * 100:.1f} % of the median)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=9)
    args = parser.parse_args()
    if args.runs < 2:
        parser.error("--runs must be at least 2")
    missing = windows_parts_missing()
    if missing:
        print(f"not measured: {missing}")  # the other benchmarks still run
        return
    for needed in (PACKAGE / f"{LAUNCHER_NAME}.exe", PACKAGE / MODULE_PYD, HOOK):
        if not needed.exists():
            raise SystemExit(f"{needed} is missing: build first (make build)")
    for tool in ("wine", "wineserver", "Xvfb"):
        if not shutil.which(tool):
            raise SystemExit(f"{tool} is missing: scripts/install-deps.sh installs it")
    BUILD.mkdir(exist_ok=True)
    base = pathlib.Path(tempfile.mkdtemp(prefix="bench-windows-startup-", dir=BUILD))
    try:
        with wine_session(base) as wine:  # a persistent server, as a desktop session has one
            (base / "frames").mkdir()
            launchers = {"centre": lay_out(base / "centre" / LAUNCHER_NAME, bare=False),
                         "bare": lay_out(base / "bare" / LAUNCHER_NAME, bare=True)}
            titles = {"centre": CENTRE_TITLE, "bare": ""}
            frame = base / "frames" / "frame.txt"
            for name, launcher in launchers.items():  # the first start in the prefix: not counted
                sample(wine, launcher, frame, titles[name])
            results = {name: [] for name in launchers}
            load_before = os.getloadavg()[0]
            for run in range(args.runs):
                order = list(launchers.items())
                if run % 2:
                    order.reverse()  # no kind always goes second
                for name, launcher in order:
                    results[name].append(sample(wine, launcher, frame, titles[name]))
            load_after = os.getloadavg()[0]
    except WineUnavailable as reason:
        raise SystemExit(f"not measured: {reason}")
    report(args.runs, results, (load_before, load_after))


if __name__ == "__main__":
    main()
