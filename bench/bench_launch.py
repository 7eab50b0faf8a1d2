#!/usr/bin/python3
"""Time spent on the window's thread by "Çalıştır": launch_one from the click to its return,
with the nine places searched and a real process started (a tiny installed program), and with
the fallback to the tool's app.py (the interpreter is replaced by a tiny program too, so the
machine is not flooded with windows).

    bench_launch.py [--runs N]
"""
import argparse
import os
import pathlib
import statistics
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "build" / "centre"))
os.environ.setdefault("QT_QPA_PLATFORM", "offscreen")

import Z47_Kurulum_Merkezi as centre  # noqa: E402


class SilentBoxes:
    Yes, No, Ok = centre.QMessageBox.Yes, centre.QMessageBox.No, centre.QMessageBox.Ok

    @staticmethod
    def warning(*args):
        raise SystemExit(f"launch failed: {args[2]}")


def measure(window, record, runs):
    samples = []
    for _ in range(runs):
        start = time.perf_counter()
        window.launch_one(record)
        samples.append((time.perf_counter() - start) * 1000.0)
    return samples


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=100)
    args = parser.parse_args()

    app = centre.QApplication(sys.argv)
    centre.QMessageBox = SilentBoxes
    window = centre.Z47InstallerCenter()
    with tempfile.TemporaryDirectory() as tmp:
        tmp = pathlib.Path(tmp)
        installed = tmp / "pf" / "Z47_Sevra" / "Z47_Sevra.exe"
        installed.parent.mkdir(parents=True)
        installed.symlink_to("/bin/true")
        os.environ["ProgramFiles"] = str(tmp / "pf")
        os.environ["LOCALAPPDATA"] = str(tmp / "local")
        cloud = next(p for p in centre.PROGRAMS if p["id"] == "z47-cloud")
        found = measure(window, cloud, args.runs)

        installed.unlink()
        app_py = tmp / "app.py"
        app_py.write_text("")
        fallback = dict(cloud, run_cmd=["/bin/true", str(app_py)])
        fell_back = measure(window, fallback, args.runs)

    for name, samples in (("installed program (candidate 6)", found), ("fallback run_cmd", fell_back)):
        print(f"launch_one, {name}: median {statistics.median(samples):.2f} ms, "
              f"p90 {statistics.quantiles(samples, n=10)[-1]:.2f} ms over {len(samples)} runs  (goal: median <= 5 ms)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
