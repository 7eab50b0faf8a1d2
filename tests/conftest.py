"""Shared fixtures and helpers: the built module, real tool folders in a temporary directory
with scripts that write down that they ran, a recorder for the window's message boxes, and the
ways tests wait for a worker or a window's runs to end."""
import pathlib
import stat
import sys

import pytest
from PyQt5.QtCore import QCoreApplication

from helpers import STAGE
from vocabulary import FOLDERS

MODULE_NAME = "Z47_Kurulum_Merkezi"

if str(STAGE) not in sys.path:
    sys.path.insert(0, str(STAGE))



@pytest.fixture(scope="session")
def centre():
    """The built module, imported once for the whole test process."""
    import importlib

    return importlib.import_module(MODULE_NAME)


class ToolTree:
    """Tool folders under a temporary base directory that the module uses as BASE_Z47_DIR."""

    def __init__(self, base: pathlib.Path):
        self.base = base

    def folder(self, name: str) -> pathlib.Path:
        path = self.base / name
        path.mkdir(parents=True, exist_ok=True)
        return path

    def script(self, folder: str, name: str, body: str) -> pathlib.Path:
        """Writes a bash script; it needs no execute bit, the centre runs it with bash."""
        path = self.folder(folder) / name
        path.write_text("#!/usr/bin/env bash\n" + body + "\n", encoding="utf-8")
        path.chmod(path.stat().st_mode & ~(stat.S_IXUSR | stat.S_IXGRP | stat.S_IXOTH))
        return path

    def logging_script(self, folder: str, name: str = "kur.sh", extra: str = "") -> pathlib.Path:
        """A script that appends '<folder>/<name>' to the tree's log, then runs `extra` (for
        instance "exit 2").  Bash built-ins only, so it runs whatever PATH holds."""
        return self.script(folder, name, f'echo "{folder}/{name}" >> "{self.log()}"\n{extra}')

    def log(self) -> pathlib.Path:
        return self.base / "runs.log"

    def logged(self) -> list:
        log = self.log()
        return log.read_text(encoding="utf-8").splitlines() if log.exists() else []


@pytest.fixture
def tool_tree(tmp_path, monkeypatch, centre):
    """Empty tool folders in a temp dir, with BASE_Z47_DIR pointing at it."""
    base = tmp_path / "centre"
    base.mkdir()
    tree = ToolTree(base)
    for name in FOLDERS:
        tree.folder(name)
    monkeypatch.setattr(centre, "BASE_Z47_DIR", centre.Path(str(base)))
    return tree


class MessageBoxRecorder:
    """Stands in for QMessageBox's static calls and records them; `answer` is what
    `question` returns."""

    def __init__(self, real):
        self.calls = []
        self.answer = real.No
        self.Yes = real.Yes
        self.No = real.No
        self.Ok = real.Ok

    def _record(self, kind, parent, title, text, *rest):
        self.calls.append((kind, parent, title, text) + tuple(rest))

    def information(self, parent, title, text, *rest):
        self._record("information", parent, title, text, *rest)
        return self.Ok

    def warning(self, parent, title, text, *rest):
        self._record("warning", parent, title, text, *rest)
        return self.Ok

    def question(self, parent, title, text, *rest):
        self._record("question", parent, title, text, *rest)
        return self.answer


@pytest.fixture
def boxes(monkeypatch, centre):
    recorder = MessageBoxRecorder(centre.QMessageBox)
    monkeypatch.setattr(centre, "QMessageBox", recorder)
    return recorder


@pytest.fixture
def window(qtbot, centre, boxes):
    """A main window whose message boxes are recorded, never shown.  At the end every run it
    started has delivered its result, so nothing of it reaches the next test."""
    win = centre.Z47InstallerCenter()
    yield win
    qtbot.waitUntil(lambda: not win._workers, timeout=120_000)
    win.close()
    win.deleteLater()


@pytest.fixture
def record_of(centre):
    """The catalogue's own record of a tool, by its folder."""
    return lambda folder: next(p for p in centre.PROGRAMS if p["folder"] == folder)


@pytest.fixture
def until_done(qtbot):
    """Waits until every run a window started has delivered its result."""
    def wait(window, timeout=60_000):
        qtbot.waitUntil(lambda: not window._workers, timeout=timeout)
    return wait


@pytest.fixture
def run_worker(qtbot, centre):
    """Runs a ScriptWorker over `scripts` on its thread and returns its only (ok, msg)."""
    started = []

    def run(scripts, timeout_ms=20_000):
        worker = centre.ScriptWorker(scripts)
        started.append(worker)
        results = []
        worker.done_signal.connect(lambda ok, msg: results.append((ok, msg)))
        with qtbot.waitSignal(worker.done_signal, timeout=timeout_ms):
            worker.start()
        worker.wait()
        QCoreApplication.processEvents()  # a second emission would be queued by now
        assert len(results) == 1, results
        return results[0]

    yield run
    for worker in started:
        worker.wait()
