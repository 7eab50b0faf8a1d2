#!/usr/bin/python3
"""Opens the centre from the build tree: the module beside the project's sample tool folders.

With a display, this is the centre as a person uses it.  Without one, the window is opened
under Xvfb, photographed once it has painted, and closed; the picture's path is printed.
Where XDG_RUNTIME_DIR is not set, Qt is given a private one in the build folder for the run.

    run_centre.py                 open the window (Xvfb + screenshot when there is no display)
    run_centre.py --screenshot F  open, save a screenshot of the screen to F, close
"""
import importlib
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent
STAGE = ROOT / "build" / "centre"
DEFAULT_SHOT = ROOT / "build" / "centre.png"


def run_with_screenshot(path: pathlib.Path) -> int:
    """Runs main(); once the window has been painted, the first-frame hook photographs it
    and closes it."""
    frame = path.with_suffix(".frame")
    os.environ.update(Z47_FIRST_FRAME=str(frame), Z47_FIRST_FRAME_SHOT=str(path))
    sys.path[:0] = [str(STAGE), str(HERE)]
    importlib.import_module("first_frame_hook")  # first: it watches the application the centre makes
    import Z47_Kurulum_Merkezi as centre
    try:
        centre.main()
    except SystemExit as end:
        return int(end.code or 0)
    finally:
        frame.unlink(missing_ok=True)
    return 0


def main() -> int:
    if os.environ.get("XDG_RUNTIME_DIR"):
        return open_centre()
    # Qt wants a runtime folder of the user's own (mode 700); a session without one (a log-in
    # over ssh, a container) gets one in the build folder, removed after the run.
    STAGE.parent.mkdir(exist_ok=True)
    runtime_dir = tempfile.mkdtemp(prefix="xdg-runtime-", dir=STAGE.parent)  # made with mode 700
    os.environ["XDG_RUNTIME_DIR"] = runtime_dir
    try:
        return open_centre()
    finally:
        shutil.rmtree(runtime_dir, ignore_errors=True)


def open_centre() -> int:
    args = sys.argv[1:]
    if args[:1] == ["--screenshot"] and len(args) == 2:
        path = pathlib.Path(args[1]).resolve()
        code = run_with_screenshot(path)
        if code == 0:
            print(f"Screenshot of the centre: {path}", flush=True)
        return code
    if os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"):
        sys.path.insert(0, str(STAGE))
        import Z47_Kurulum_Merkezi as centre
        centre.main()
        return 0
    if not shutil.which("xvfb-run"):
        print("No display and no xvfb-run: run scripts/install-deps.sh run first.", file=sys.stderr)
        return 1
    # Flushed first: the output of the run below would otherwise come before it in a log.
    print("No display: opening the centre under Xvfb for a screenshot.", flush=True)
    # A screen of 96 DPI, the DPI the window is designed at (Xvfb's own default reports about
    # 100, which the centre scales to 104 %).
    cmd = ["xvfb-run", "-a", "-s", "-screen 0 1280x800x24 -dpi 96", sys.executable, __file__,
           "--screenshot", str(DEFAULT_SHOT)]
    return subprocess.call(cmd)


if __name__ == "__main__":
    sys.exit(main())
