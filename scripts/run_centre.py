#!/usr/bin/python3
"""Opens the centre from the build tree: the module beside the project's sample tool folders.

With a display, this is the centre as a person uses it.  Without one, the window is opened
under Xvfb, photographed once it has painted, and closed; the picture's path is printed.

    run_centre.py                 open the window (Xvfb + screenshot when there is no display)
    run_centre.py --screenshot F  open, save a screenshot of the screen to F, close
"""
import os
import pathlib
import shutil
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[1]
STAGE = ROOT / "build" / "centre"
DEFAULT_SHOT = ROOT / "build" / "centre.png"


def run_with_screenshot(path: pathlib.Path) -> int:
    """Runs main() with an application whose event loop takes a picture and then closes."""
    sys.path.insert(0, str(STAGE))
    import Z47_Kurulum_Merkezi as centre
    from PyQt5.QtCore import QTimer

    real_app = centre.QApplication

    class ScreenshotApp(real_app):
        def exec_(self):
            QTimer.singleShot(1500, self._shoot)
            return super().exec_()

        def _shoot(self):
            # The centre's own window, as the screen shows it.
            window = next(w for w in self.topLevelWidgets() if w.isVisible() and w.isWindow())
            ok = window.screen().grabWindow(window.winId()).save(str(path), "PNG")
            if not ok:
                print(f"could not save {path}", file=sys.stderr)
            self.closeAllWindows()

    centre.QApplication = ScreenshotApp
    try:
        centre.main()
    except SystemExit as end:
        return int(end.code or 0)
    return 0


def main() -> int:
    args = sys.argv[1:]
    if args[:1] == ["--screenshot"] and len(args) == 2:
        path = pathlib.Path(args[1]).resolve()
        code = run_with_screenshot(path)
        if code == 0:
            print(f"Screenshot of the centre: {path}")
        return code
    if os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"):
        sys.path.insert(0, str(STAGE))
        import Z47_Kurulum_Merkezi as centre
        centre.main()
        return 0
    if not shutil.which("xvfb-run"):
        print("No display and no xvfb-run: run scripts/install-deps.sh first.", file=sys.stderr)
        return 1
    print("No display: opening the centre under Xvfb for a screenshot.")
    cmd = ["xvfb-run", "-a", "-s", "-screen 0 1280x800x24", sys.executable, __file__,
           "--screenshot", str(DEFAULT_SHOT)]
    return subprocess.call(cmd)


if __name__ == "__main__":
    sys.exit(main())
