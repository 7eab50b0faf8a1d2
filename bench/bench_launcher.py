#!/usr/bin/python3
"""The launcher's own cost: from process start to the first painted frame of the centre's
window, started through the Linux launcher against /usr/bin/python3 importing the module and
calling main, in the same run.  Goal: the launcher adds at most 5 ms (medians).

Both kinds run the same files: a folder with a copy of the launcher, the built module (a
link) and the first-frame hook (scripts/first_frame_hook.py), which the
runtime loads at start-up in both cases, writes the monotonic clock after the first paint and
closes the window.  Samples are fresh processes (offscreen), interleaved in alternating order
so that a busy moment weighs on both alike.  On a shared machine the times fall in two bands
some 50 ms apart for both kinds alike, so besides the medians the lower quartiles and the
median of run-by-run differences are printed.  Peak memory is each child's own maximum
resident set size.

    bench_launcher.py [--runs N]
"""
import argparse
import os
import pathlib
import shutil
import statistics
import subprocess
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
STAGE = ROOT / "build" / "centre"
LAUNCHER = STAGE / "Z47_Masaustu_Araclari_Tam_Paketi"
HOOK = ROOT / "scripts" / "first_frame_hook.py"
PYTHON = "/usr/bin/python3"


def lay_out(folder: pathlib.Path):
    shutil.copy2(LAUNCHER, folder / LAUNCHER.name)
    module = next(STAGE.glob("Z47_Kurulum_Merkezi.cpython-*.so"))
    (folder / module.name).symlink_to(module)
    shutil.copy2(HOOK, folder / "sitecustomize.py")


def sample(command, folder: pathlib.Path, env: dict) -> tuple:
    """One start; returns (ms to first frame, CPU ms of the whole run, peak RSS in MiB)."""
    frame = folder / "frame.txt"
    frame.unlink(missing_ok=True)
    env = dict(env, Z47_FIRST_FRAME=str(frame))
    start = time.time_ns()  # the hook's clock
    process = subprocess.Popen(command, cwd=folder, env=env, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0 or not frame.exists():
        raise SystemExit(f"{command[0]} ended with {process.returncode} without a painted frame")
    painted = int(frame.read_text(encoding="utf-8").split("\t")[1])
    return (painted - start) / 1e6, (usage.ru_utime + usage.ru_stime) * 1e3, usage.ru_maxrss / 1024


def quartile(values) -> float:
    return statistics.quantiles(values, n=4)[0]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=30)
    args = parser.parse_args()
    for needed in (LAUNCHER, HOOK):
        if not needed.exists():
            raise SystemExit(f"{needed} is missing: build first (make build)")

    with tempfile.TemporaryDirectory(prefix="z47-bench-launcher-") as tmp:
        folder = pathlib.Path(tmp)
        lay_out(folder)
        runtime_dir = folder / "runtime"
        runtime_dir.mkdir(mode=0o700)
        env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "Z47_"))}
        env.update(QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=str(runtime_dir))
        kinds = {
            "launcher": ([str(folder / LAUNCHER.name)], env),
            "python3": ([PYTHON, "-c", "import Z47_Kurulum_Merkezi as m; m.main()"],
                        dict(env, PYTHONPATH=str(folder))),
        }
        results = {name: ([], [], []) for name in kinds}
        for _ in range(2):  # warm the page cache for both
            for command, kind_env in kinds.values():
                sample(command, folder, kind_env)
        for run in range(args.runs):
            order = list(kinds.items())
            if run % 2:
                order.reverse()  # launcher first, then python3 first: no kind always goes second
            for name, (command, kind_env) in order:
                for figures, value in zip(results[name], sample(command, folder, kind_env)):
                    figures.append(value)

    print(f"start-up to first painted frame, {args.runs} interleaved runs each (offscreen)")
    for name, (times, cpu, memory) in results.items():
        print(f"  {name:9} median {statistics.median(times):6.1f} ms  lower quartile {quartile(times):6.1f}"
              f"  min {min(times):6.1f}  CPU {statistics.median(cpu):6.1f} ms"
              f"  peak RSS {statistics.median(memory):5.1f} MiB")
    launcher, python3 = results["launcher"], results["python3"]
    # Each launcher run against the python3 run of the same round: a slow moment of the
    # machine weighs on both halves of a pair.
    paired = [a - b for a, b in zip(launcher[0], python3[0])]
    print(f"  launcher's own cost: {statistics.median(launcher[0]) - statistics.median(python3[0]):+.1f} ms"
          f" between medians (goal: at most +5 ms), {quartile(launcher[0]) - quartile(python3[0]):+.1f} ms"
          f" between lower quartiles, {statistics.median(paired):+.1f} ms median of pairs")

if __name__ == "__main__":
    main()
