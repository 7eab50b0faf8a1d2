"""An X display as a person's desktop has one, for the tests that look at the centre's window as
it opens: Xvfb with a screen of a given size, the DPI setting desktops publish (Xft.dpi), and a
window manager (openbox) that frames windows and keeps a task bar's strip of the screen free.
It also runs the centre with the probe that reports what the window shows (support/probe)."""
import contextlib
import json
import os
import pathlib
import shutil
import subprocess
import time

from helpers import STAGE, python_env

PROBE = pathlib.Path(__file__).resolve().parent / "support" / "probe"
TASKBAR = 40  # pixels at the foot of the screen, as a task bar takes them
AT_SPI_BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
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
        for process in (manager, xvfb):
            if process is not None:
                process.terminate()
                process.wait(timeout=30)


def run_probed_centre(display, folder: pathlib.Path, actions=(), env=None, timeout=120) -> list:
    """Runs the centre (main, as its start command does) on `display` (None: offscreen) with
    the probe; returns the probe's findings once the window has closed."""
    report = folder / "probe.jsonl"
    screen = {"QT_QPA_PLATFORM": "xcb", "DISPLAY": display} if display else {"QT_QPA_PLATFORM": "offscreen"}
    probe_env = {
        **screen,
        "Z47_PROBE_REPORT": str(report), "Z47_PROBE_SHOT": str(folder / "window.png"),
        "Z47_PROBE_ACTIONS": json.dumps([list(action) for action in actions]),
        **(env or {}),
    }
    full_env = python_env(probe_env)
    full_env["PYTHONPATH"] = os.pathsep.join([str(PROBE), str(STAGE)])
    done = subprocess.run(["/usr/bin/python3", "-c", "import Z47_Kurulum_Merkezi as m; m.main()"], env=full_env,
                          stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout)
    assert done.returncode == 0, f"exit {done.returncode}: {done.stderr[-3000:]}"
    return read_probe(report)


def read_probe(report: pathlib.Path) -> list:
    return [json.loads(line) for line in report.read_text(encoding="utf-8").splitlines()]


def contains(outer, inner) -> bool:
    ox, oy, ow, oh = outer
    ix, iy, iw, ih = inner
    return ox <= ix and oy <= iy and ix + iw <= ox + ow and iy + ih <= oy + oh


def assert_fits_its_screen(window: dict, ratio: float):
    """The window as it opened: at the screen's own scale, inside the available area, as large
    as the design where that fits and otherwise as large as the area allows, and no control
    cut off."""
    assert abs(window["ratio"] - ratio) < 1e-6, window
    area, frame, client = window["available"], window["frame"], window["client"]
    assert contains(area, frame), window
    extra_w, extra_h = frame[2] - client[2], frame[3] - client[3]
    room = (area[2] - extra_w, area[3] - extra_h)
    assert tuple(client[2:]) == tuple(min(d, r) for d, r in zip(DESIGNED_SIZE, room)), window
    assert tuple(window["minimum"]) == tuple(min(d, r) for d, r in zip(DESIGNED_MINIMUM, room)), window
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
    runtime, home = folder / "runtime", folder / "home"
    runtime.mkdir(mode=0o700, parents=True)
    home.mkdir()
    env = {**os.environ, "DISPLAY": display, "XDG_RUNTIME_DIR": str(runtime), "HOME": str(home),
           "XDG_CONFIG_HOME": str(home / ".config"), "XDG_CACHE_HOME": str(home / ".cache")}
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", f"--address=unix:path={folder / 'bus'}",
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
        for process in (launcher, bus):
            if process is not None:
                process.terminate()
                process.wait(timeout=30)
        bus.stdout.close()

