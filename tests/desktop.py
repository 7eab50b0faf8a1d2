"""An X display as a person's desktop has one, for the tests that look at the centre's window as
it opens: Xvfb with a screen of a given size, the DPI setting desktops publish (Xft.dpi), and a
window manager (openbox) that frames windows and keeps a task bar's strip of the screen free.
It also runs the centre with the probe that reports what the window shows (support/probe)."""
import contextlib
import json
import os
import pathlib
import re
import shutil
import subprocess
import tempfile
import time

from helpers import STAGE, python_env

PROBE = pathlib.Path(__file__).resolve().parent / "support" / "probe"
TASKBAR = 40  # pixels at the foot of the screen, as a task bar takes them
AT_SPI_BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
WINDOW_TITLE = "Z47 Masaüstü Araçları 5'i 1 Arada Kurulum Merkezi"  # how the centre's title starts
DESIGNED_SIZE = (1120, 740)
DESIGNED_MINIMUM = (760, 480)

OPENBOX_CONFIG = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <margins><top>0</top><bottom>{taskbar}</bottom><left>0</left><right>0</right></margins>
</openbox_config>
"""


def x_tool(*args, display, env=None, **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run(list(args), env={**(env or os.environ), "DISPLAY": display}, capture_output=True,
                          text=True, timeout=60, **kwargs)


def wait_for(condition, what, timeout=30.0):
    deadline = time.monotonic() + timeout
    while not condition():
        assert time.monotonic() < deadline, f"{what} did not happen in {timeout} s"
        time.sleep(0.02)


def end_all(*processes):
    """Ends the helper processes that were started (None: never started), in that order."""
    for process in processes:
        if process is not None:
            process.terminate()
            process.wait(timeout=30)


@contextlib.contextmanager
def x_desktop(folder: pathlib.Path, size=(1366, 768), dpi=96, taskbar=TASKBAR):
    """Yields the name of a display of `size` pixels at `dpi`, managed by openbox; everything
    it needs lives in `folder`, and nothing of it is left running afterwards."""
    for tool in ("Xvfb", "xrdb", "xprop", "openbox"):
        assert shutil.which(tool), f"{tool} is missing: scripts/install-deps.sh installs it"
    folder.mkdir(parents=True, exist_ok=True)
    config = folder / "openbox.xml"
    config.write_text(OPENBOX_CONFIG.format(taskbar=taskbar), encoding="utf-8")
    read_end, write_end = os.pipe()
    # -noreset: the X resources (Xft.dpi) stay when their last client has gone.
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{size[0]}x{size[1]}x24",
                             "-dpi", str(dpi), "-noreset", "-nolisten", "tcp"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as reader:
        display = ":" + reader.readline().strip()
    manager = None
    try:
        assert display != ":", "Xvfb did not start"
        x_tool("xrdb", "-merge", display=display, input=f"Xft.dpi: {dpi}\n", check=True)
        home = {"HOME": str(folder), "XDG_CONFIG_HOME": str(folder / "config"), "XDG_CACHE_HOME": str(folder / "cache")}
        manager = subprocess.Popen(["openbox", "--config-file", str(config)],
                                   env={**os.environ, **home, "DISPLAY": display},
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Up once it has published the work area without the task bar's strip.
        expected_area = f"0, 0, {size[0]}, {size[1] - taskbar}"
        wait_for(lambda: expected_area in x_tool("xprop", "-root", "_NET_WORKAREA", display=display).stdout,
                 "openbox publishing its work area")
        yield display
    finally:
        end_all(manager, xvfb)


def probe_env(report: pathlib.Path, shot: pathlib.Path, hold: pathlib.Path, actions=(), path=str) -> dict:
    """The environment that steers the probe; `path` turns a file's path into the program's."""
    return {"Z47_PROBE_REPORT": path(report), "Z47_PROBE_SHOT": path(shot), "Z47_PROBE_HOLD": path(hold),
            "Z47_PROBE_ACTIONS": json.dumps([list(action) for action in actions])}


class ProbedRun:
    """A start of the centre with the probe, in `folder`: the findings as they come, and the
    window, which stays open until release()."""

    def __init__(self, process: subprocess.Popen, folder: pathlib.Path):
        self.process, self.folder = process, folder
        self.report = folder / "probe.jsonl"

    def findings(self) -> list:
        return read_probe(self.report) if self.report.exists() else []

    def window(self, timeout=120.0) -> dict:
        """The window as the probe found it once it had opened and been fitted."""
        def opened():
            return self.process.poll() is not None or any(kind == "window" for kind, _ in self.findings())
        wait_for(opened, "the window opening", timeout)
        found = [what for kind, what in self.findings() if kind == "window"]
        assert found, f"the centre ended with {self.process.returncode} before its window opened"
        return found[0]

    def release(self, timeout=120.0) -> int:
        """Lets the probe close the window; the centre's exit code."""
        (self.folder / "hold").touch()
        return self.process.wait(timeout=timeout)


def start_probed_centre(display, folder: pathlib.Path, actions=(), env=None) -> ProbedRun:
    """Starts the centre (main, as its start command does) on `display` (None: offscreen)
    with the probe."""
    folder.mkdir(parents=True, exist_ok=True)
    screen = {"QT_QPA_PLATFORM": "xcb", "DISPLAY": display} if display else {"QT_QPA_PLATFORM": "offscreen"}
    steering = probe_env(folder / "probe.jsonl", folder / "window.png", folder / "hold", actions)
    full_env = python_env({**screen, **steering, **(env or {})})
    full_env["PYTHONPATH"] = os.pathsep.join([str(PROBE), str(STAGE)])
    process = subprocess.Popen(["/usr/bin/python3", "-c", "import Z47_Kurulum_Merkezi as m; m.main()"], env=full_env,
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return ProbedRun(process, folder)


def run_probed_centre(display, folder: pathlib.Path, actions=(), env=None, timeout=120) -> list:
    """Runs the centre with the probe to its end; returns the probe's findings."""
    run = start_probed_centre(display, folder, actions, env)
    (folder / "hold").touch()
    try:
        _, errors = run.process.communicate(timeout=timeout)
    finally:
        if run.process.poll() is None:
            run.process.kill()
            run.process.communicate()
    assert run.process.returncode == 0, f"exit {run.process.returncode}: {errors[-3000:]}"
    return run.findings()


def read_probe(report: pathlib.Path) -> list:
    return [json.loads(line) for line in report.read_text(encoding="utf-8").splitlines()]


# ---- the window as the X server has it ---------------------------------------------------------

def x_frame_of(display: str, title_start: str) -> list:
    """[x, y, width, height] on the screen of the top-level window (with the frame the window
    manager drew round it) that holds the window whose title starts so."""
    tree = x_tool("xwininfo", "-root", "-tree", display=display, check=True).stdout
    top = None
    for line in tree.splitlines():
        m = re.match(r"^(\s+)0x[0-9a-f]+ (.*?)\s+(\d+)x(\d+)[+-]\d+[+-]\d+\s+\+(-?\d+)\+(-?\d+)\s*$", line)
        if not m:
            continue
        indent, name, width, height, x, y = m.groups()
        geometry = [int(x), int(y), int(width), int(height)]
        if len(indent) == 5:  # a child of the root window: where the window manager's frame is
            top = geometry
        if name.startswith(f'"{title_start}'):
            return top
    raise AssertionError(f"no window titled {title_start!r} on {display}")


def x_work_area(display: str) -> list:
    """The part of the screen the window manager leaves to windows (without the task bar)."""
    found = re.search(r"= (\d+), (\d+), (\d+), (\d+)", x_tool("xprop", "-root", "_NET_WORKAREA", display=display).stdout)
    return [int(v) for v in found.groups()]


def contains(outer, inner) -> bool:
    ox, oy, ow, oh = outer
    ix, iy, iw, ih = inner
    return ox <= ix and oy <= iy and ix + iw <= ox + ow and iy + ih <= oy + oh


# Wine takes Windows' frame round a window to be a few pixels larger than the window manager
# draws it, and so leaves that much of the area unused.
FILL_SLACK = 16


def assert_fits_its_screen(window: dict, ratio: float, frame: list, work_area: list):
    """The window as it opened: at the screen's own scale, its frame (as the X server has it, in
    the screen's pixels) inside the work area, as large as the design where that fits and
    otherwise filling the area, its minimum no larger than itself, and no control cut off."""
    assert abs(window["ratio"] - ratio) < 1e-6, window
    assert contains(work_area, frame), (frame, work_area)
    client = window["client"]
    for i, designed in enumerate(DESIGNED_SIZE):
        size = client[2 + i]
        assert size <= designed, window
        if size < designed:  # only where the area is too small: the frame then fills it
            assert frame[2 + i] >= work_area[2 + i] - FILL_SLACK, (frame, work_area, window)
        assert window["minimum"][i] == min(DESIGNED_MINIMUM[i], size), window
    # Nothing sticks out of the window; the header button and the status line show whole, and
    # every card button that shows in the card area shows whole across.
    assert contains(client, window["status"]), window
    viewport = window["viewport"]
    for text, rect in window["buttons"]:
        if text == "Tümünü Tek Tıkla Kur":
            assert contains(client, rect), (text, rect, window)
        elif rect[1] < viewport[1] + viewport[3] and rect[1] + rect[3] > viewport[1]:  # shows in the card area
            assert viewport[0] <= rect[0] and rect[0] + rect[2] <= viewport[0] + viewport[2], (text, rect, window)


@contextlib.contextmanager
def accessibility_bus(folder: pathlib.Path, display: str):
    """A session bus and the accessibility bus on it, as a desktop session starts them, all in
    `folder`; yields the environment of a program of that session.  The bus's address is also
    published on the X root window, where Qt 5 looks for it."""
    for tool in ("dbus-daemon", "dbus-send", AT_SPI_BUS_LAUNCHER):
        assert shutil.which(tool), f"{tool} is missing: scripts/install-deps.sh installs it"
    # The buses' sockets live in a short folder of the system's own temporary folder, removed
    # afterwards: a socket's path may not pass 107 bytes, and the accessibility bus puts its own
    # below the runtime folder ("at-spi/bus_1"), too deep from a build folder in a home.
    sockets = pathlib.Path(tempfile.mkdtemp(prefix="z47-bus-", dir="/tmp"))
    runtime, home = sockets / "runtime", folder / "home"
    runtime.mkdir(mode=0o700)
    home.mkdir(parents=True)
    env = {**os.environ, "DISPLAY": display, "XDG_RUNTIME_DIR": str(runtime), "HOME": str(home),
           "XDG_CONFIG_HOME": str(home / ".config"), "XDG_CACHE_HOME": str(home / ".cache")}
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", f"--address=unix:path={sockets / 'bus'}",
                            "--print-address=1"], env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    launcher = None
    try:
        env["DBUS_SESSION_BUS_ADDRESS"] = bus.stdout.readline().strip()
        launcher = subprocess.Popen([AT_SPI_BUS_LAUNCHER, "--launch-immediately"], env=env,
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        def bus_address() -> str:
            done = subprocess.run(["dbus-send", "--session", "--dest=org.a11y.Bus", "--print-reply=literal",
                                   "/org/a11y/bus", "org.a11y.Bus.GetAddress"], env=env, capture_output=True, text=True)
            return done.stdout.strip() if done.returncode == 0 else ""

        wait_for(lambda: bus_address() != "", "the accessibility bus starting")
        x_tool("xprop", "-root", "-f", "AT_SPI_BUS", "8s", "-set", "AT_SPI_BUS", bus_address(), display=display,
               check=True)
        yield env
    finally:
        end_all(launcher, bus)
        bus.stdout.close()
        shutil.rmtree(sockets, ignore_errors=True)

