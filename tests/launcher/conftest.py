"""Fixtures for the launcher's tests: folders laid out like a shipped centre around a copy of
the built Linux launcher, and (test_windows_*.py) the Windows launcher under wine."""
import json
import os
import pathlib
import shutil
import subprocess
import time

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = ROOT / "build"
STAGE = BUILD / "centre"
LAUNCHER_NAME = "Z47_Masaustu_Araclari_Tam_Paketi"
LAUNCHER = STAGE / LAUNCHER_NAME
SUPPORT = pathlib.Path(__file__).resolve().parent / "support"

PACKAGE_TITLE = "Z47 Masaüstü Araçları Tam Paketi"
CENTRE_TITLE = "Z47 Masaüstü Araçları 5'i 1 Arada Kurulum Merkezi"
RUNTIME_FAILURE = "Python 3.12 Runtime (python312.dll) baslatilamadi."

# A stand-in for the centre: writes what the start-up left behind, then ends as a case says.
STAND_IN_HEAD = '''\
import json, os, sys

def _report():
    with open(os.environ["Z47_TEST_REPORT"], "w", encoding="utf-8") as f:
        json.dump({
            "argv": sys.argv,
            "executable": sys.executable,
            "path": sys.path,
            "cwd": os.getcwd(),
            "PATH": os.environ.get("PATH"),
            "PYTHONPATH": os.environ.get("PYTHONPATH"),
            "QT_QPA_PLATFORM_PLUGIN_PATH": os.environ.get("QT_QPA_PLATFORM_PLUGIN_PATH"),
        }, f)

'''


def built(path: pathlib.Path) -> pathlib.Path:
    assert path.exists(), f"{path} is missing: build first (make test, or cmake --build build)"
    return path


class LauncherFolder:
    """A folder laid out like a shipped centre, around a copy of the Linux launcher.

    The launcher finds its folder through /proc/self/exe, which resolves links, so the
    launcher is copied; the centre module may be a link (its own folder is resolved anyway).
    """

    def __init__(self, path: pathlib.Path, scratch: pathlib.Path):
        self.path = path
        self.path.mkdir(parents=True)
        self.launcher = self.path / LAUNCHER_NAME
        shutil.copy2(built(LAUNCHER), self.launcher)
        self.scratch = scratch
        self.scratch.mkdir(parents=True, exist_ok=True)
        self.runtime_dir = scratch / "runtime"  # the per-user guard lives here
        self.runtime_dir.mkdir(mode=0o700, exist_ok=True)
        self.appdata = scratch / "appdata"
        self.report_file = scratch / "report.json"

    def stand_in(self, body: str):
        """Puts a stand-in module beside the launcher; `body` ends it as the case needs."""
        (self.path / "Z47_Kurulum_Merkezi.py").write_text(STAND_IN_HEAD + body, encoding="utf-8")

    def real_centre(self):
        """Puts the built centre module beside the launcher, with the first-frame hook."""
        module = next(STAGE.glob("Z47_Kurulum_Merkezi.cpython-*.so"))
        (self.path / module.name).symlink_to(module)
        shutil.copy2(SUPPORT / "sitecustomize.py", self.path / "sitecustomize.py")

    def env(self, **changes) -> dict:
        env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "Z47_"))}
        env.update(
            XDG_RUNTIME_DIR=str(self.runtime_dir),
            LOCALAPPDATA=str(self.appdata),
            QT_QPA_PLATFORM="offscreen",
            Z47_TEST_REPORT=str(self.report_file),
        )
        for key, value in changes.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        return env

    def command(self, args) -> list:
        return [str(self.launcher), *args]

    def run(self, *args, env=None, cwd=None, timeout=60) -> subprocess.CompletedProcess:
        return subprocess.run(self.command(args), env=env or self.env(), cwd=cwd or self.scratch,
                              capture_output=True, timeout=timeout)

    def start(self, *args, env=None) -> subprocess.Popen:
        return subprocess.Popen(self.command(args), env=env or self.env(), cwd=self.scratch,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def report(self) -> dict:
        return json.loads(self.report_file.read_text(encoding="utf-8"))


@pytest.fixture
def folder(tmp_path) -> LauncherFolder:
    return LauncherFolder(tmp_path / "Z47 Kurulum Klasörü", tmp_path / "scratch")


def wait_for_file(path: pathlib.Path, process: subprocess.Popen, timeout=30.0) -> str:
    """Waits until `path` holds text; fails early when the process ends first."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if path.exists() and path.stat().st_size > 0:
            return path.read_text(encoding="utf-8")
        if process.poll() is not None:
            out, err = process.communicate()
            pytest.fail(f"ended with {process.returncode} before {path.name}: {err.decode(errors='replace')}")
        time.sleep(0.05)
    pytest.fail(f"{path.name} did not appear within {timeout} s")


def stop(process: subprocess.Popen):
    """Ends a process a test started, if it is still running."""
    if process.poll() is None:
        process.kill()
        process.wait(timeout=10)
