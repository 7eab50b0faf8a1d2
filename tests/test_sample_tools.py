"""The sample tools as the build lays them out in build/centre: their kur.sh and kaldir.sh run
with real bash against a desktop-entry folder in a temporary directory, and their app.py opened
offscreen."""
import json
import os
import re
import shutil
import subprocess
import time

import pytest

from helpers import PYTHON, STAGE, changed
from vocabulary import FOLDERS, TITLES

# Each tool's folder (and desktop entry name) and its title, as a user sees them.
TOOLS = list(TITLES.items())
TOOL_IDS = FOLDERS
REAL_MV = shutil.which("mv")


def script_env(tmp_path, **changes) -> dict:
    """The environment the scripts run in: HOME and XDG_DATA_HOME inside tmp_path, so nothing
    lands in the user's home; a value of None removes the variable."""
    return changed(dict(os.environ, HOME=str(tmp_path / "home"), XDG_DATA_HOME=str(tmp_path / "data")), changes)


def run_script(tool, name, env, prefix="", cwd=None, base=STAGE) -> subprocess.CompletedProcess:
    """Runs the tool's script (of the built tools, or of those under `base`) with bash, after
    the bash commands in `prefix` if any."""
    script = str(base / tool / name)
    command = ["bash", "-c", prefix + '\nexec bash "$0"', script] if prefix else ["bash", script]
    return subprocess.run(command, env=env, cwd=cwd, capture_output=True, text=True, timeout=60)


def apps_folder(tmp_path):
    return tmp_path / "data" / "applications"


def listing(folder) -> list:
    return sorted(p.name for p in folder.iterdir())


def expected_entry(tool, title) -> dict:
    return {
        "Type": "Application",
        "Name": title,
        "Exec": f'python3 "{STAGE / tool / "app.py"}"',
        "Icon": str(STAGE / tool / "assets" / "icon_512.png"),
        "Categories": "Utility;",
        "Terminal": "false",
    }


def read_entry(path) -> dict:
    """The keys of a desktop entry that has one [Desktop Entry] group and nothing else."""
    lines = path.read_text(encoding="utf-8").splitlines()
    assert lines[0] == "[Desktop Entry]"
    pairs = [line.split("=", 1) for line in lines[1:]]
    assert all(len(pair) == 2 and pair[0] for pair in pairs), lines
    entry = dict(pairs)
    assert len(entry) == len(pairs), "a key is given twice"
    return entry


def mv_shim(tmp_path, body) -> dict:
    """A folder with an `mv` that runs `body` (bash) in place of the real one; the environment
    changes that put it first on PATH."""
    shims = tmp_path / "shims"
    shims.mkdir()
    shim = shims / "mv"
    shim.write_text(f"#!/usr/bin/env bash\n{body}\n", encoding="utf-8")
    shim.chmod(0o755)
    return {"PATH": f"{shims}:{os.environ['PATH']}"}


# --- installing and removing --------------------------------------------------------------------

@pytest.mark.parametrize("tool, title", TOOLS, ids=TOOL_IDS)
def test_install_writes_a_desktop_entry_that_starts_the_tool(tmp_path, tool, title):
    done = run_script(tool, "kur.sh", script_env(tmp_path))
    assert done.returncode == 0, done.stderr
    entry = apps_folder(tmp_path) / f"{tool}.desktop"
    assert done.stdout == f"{title} kuruldu: {entry}\n"
    assert listing(apps_folder(tmp_path)) == [f"{tool}.desktop"]
    assert read_entry(entry) == expected_entry(tool, title)
    assert (STAGE / tool / "app.py").is_file() and (STAGE / tool / "assets" / "icon_512.png").is_file()
    assert not (tmp_path / "home").exists()


@pytest.mark.parametrize("tool, title", TOOLS, ids=TOOL_IDS)
def test_removal_deletes_only_its_own_entry_and_install_then_removal_leaves_nothing(tmp_path, tool, title):
    env = script_env(tmp_path)
    other = next(folder for folder in TOOL_IDS if folder != tool)
    for folder in (tool, other):
        assert run_script(folder, "kur.sh", env).returncode == 0

    done = run_script(tool, "kaldir.sh", env)
    assert done.returncode == 0, done.stderr
    assert done.stdout == f"{title} kaldırıldı.\n"
    assert listing(apps_folder(tmp_path)) == [f"{other}.desktop"]

    assert run_script(other, "kaldir.sh", env).returncode == 0
    assert listing(apps_folder(tmp_path)) == []
    # Removing what is not installed is no failure.
    assert run_script(tool, "kaldir.sh", env).returncode == 0
    assert not (tmp_path / "home").exists()


@pytest.mark.parametrize("changes, folder", [
    ({}, "data/applications"),
    ({"XDG_DATA_HOME": None}, "home/.local/share/applications"),
    ({"XDG_DATA_HOME": ""}, "home/.local/share/applications"),
    # A relative value is not a place: the XDG rules say to ignore it.
    ({"XDG_DATA_HOME": "yerel/paylasim"}, "home/.local/share/applications"),
], ids=["xdg-data-home", "no-xdg-data-home", "empty-xdg-data-home", "relative-xdg-data-home"])
def test_entry_goes_under_xdg_data_home_or_else_home(tmp_path, changes, folder):
    tool, title = TOOLS[0]
    env = script_env(tmp_path, **changes)
    cwd = tmp_path / "çalışma dizini"
    cwd.mkdir()
    assert run_script(tool, "kur.sh", env, cwd=cwd).returncode == 0
    apps = tmp_path / folder
    assert listing(apps) == [f"{tool}.desktop"]
    assert read_entry(apps / f"{tool}.desktop") == expected_entry(tool, title)
    assert run_script(tool, "kaldir.sh", env, cwd=cwd).returncode == 0
    assert listing(apps) == []
    assert listing(cwd) == []  # nothing below the folder the centre happened to run in


# Folder names people do have, each with a character the Desktop Entry rules give a meaning.
ODD_FOLDERS = ["50% indirim", 'Ali "usta"', "fiyat $HOME", "ters\\eğik", "geri `tırnak`"]
STRING_ESCAPES = {"s": " ", "n": "\n", "t": "\t", "r": "\r", "\\": "\\"}


def string_value(value: str) -> str:
    """A desktop entry's string value as it means it: with its escapes undone."""
    return re.sub(r"\\(.)", lambda m: STRING_ESCAPES[m.group(1)], value)


@pytest.mark.parametrize("folder", ODD_FOLDERS)
def test_the_entry_starts_the_tool_whatever_its_folder_is_called(tmp_path, folder):
    tool = TOOLS[2][0]
    base = tmp_path / folder
    shutil.copytree(STAGE / tool, base / tool)
    env = script_env(tmp_path)
    assert run_script(tool, "kur.sh", env, base=base).returncode == 0
    entry = apps_folder(tmp_path) / f"{tool}.desktop"
    checked = subprocess.run(["desktop-file-validate", str(entry)], capture_output=True, text=True, timeout=60)
    assert (checked.returncode, checked.stdout + checked.stderr) == (0, "")
    assert string_value(read_entry(entry)["Icon"]) == str(base / tool / "assets" / "icon_512.png")

    # Started as a desktop starts it, with a python3 first on PATH that writes down its words.
    shims, said = tmp_path / "shims", tmp_path / "words"
    shims.mkdir()
    (shims / "python3").write_text(f'#!/bin/sh\nprintf "%s\\0" "$@" > "{said}.tmp"\nmv "{said}.tmp" "{said}"\n')
    (shims / "python3").chmod(0o755)
    launched = subprocess.run(["gio", "launch", str(entry)], env=changed(env, {"PATH": f"{shims}:{os.environ['PATH']}"}),
                              capture_output=True, text=True, timeout=60)
    assert launched.returncode == 0, launched.stderr
    deadline = time.monotonic() + 30
    while not said.exists() and time.monotonic() < deadline:
        time.sleep(0.02)
    assert said.read_text(encoding="utf-8").split("\0")[:-1] == [str(base / tool / "app.py")]


@pytest.mark.parametrize("umask, mode", [("022", 0o644), ("077", 0o600), ("002", 0o664)])
def test_entry_gets_the_mode_of_any_new_file(tmp_path, umask, mode):
    tool = TOOLS[0][0]
    assert run_script(tool, "kur.sh", script_env(tmp_path), prefix=f"umask {umask}").returncode == 0
    assert (apps_folder(tmp_path) / f"{tool}.desktop").stat().st_mode & 0o7777 == mode


def test_reinstall_replaces_an_old_entry_whole(tmp_path):
    tool, title = TOOLS[2]
    apps = apps_folder(tmp_path)
    apps.mkdir(parents=True)
    (apps / f"{tool}.desktop").write_text("[Desktop Entry]\nName=eski\nExec=eski\nX-Old=1\n", encoding="utf-8")
    assert run_script(tool, "kur.sh", script_env(tmp_path)).returncode == 0
    assert listing(apps) == [f"{tool}.desktop"]
    assert read_entry(apps / f"{tool}.desktop") == expected_entry(tool, title)


def test_two_installs_at_once_both_succeed_and_leave_one_whole_entry(tmp_path):
    tool, title = TOOLS[4]
    barrier = tmp_path / "barrier"
    barrier.mkdir()
    # Neither run renames its entry into place before both have written theirs.
    shim = mv_shim(tmp_path, f': > "$BARRIER/$$"\n'
                             f'while [ "$(ls "$BARRIER" | wc -l)" -lt 2 ]; do sleep 0.01; done\n'
                             f'exec {REAL_MV} "$@"')
    env = script_env(tmp_path, BARRIER=str(barrier), **shim)
    script = str(STAGE / tool / "kur.sh")
    runs = [subprocess.Popen(["bash", script], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            for _ in range(2)]
    try:
        ended = [run.communicate(timeout=60) for run in runs]
    finally:
        for run in runs:
            if run.poll() is None:
                run.kill()
                run.wait()
    assert [run.returncode for run in runs] == [0, 0], [err for _, err in ended]
    assert len(list(barrier.iterdir())) == 2  # both went through the held rename
    assert listing(apps_folder(tmp_path)) == [f"{tool}.desktop"]
    assert read_entry(apps_folder(tmp_path) / f"{tool}.desktop") == expected_entry(tool, title)


@pytest.mark.parametrize("mv_body, returncode", [
    ("echo 'mv: yazılamadı' >&2; exit 1", 1),
    ('kill -TERM "$PPID"; exit 0', -15),
], ids=["rename-fails", "terminated-before-rename"])
@pytest.mark.parametrize("old_entry", [None, "[Desktop Entry]\nName=eski\n"], ids=["fresh", "over-old-entry"])
def test_failed_install_leaves_the_folder_as_it_was(tmp_path, mv_body, returncode, old_entry):
    tool = TOOLS[1][0]
    apps = apps_folder(tmp_path)
    apps.mkdir(parents=True)
    if old_entry is not None:
        (apps / f"{tool}.desktop").write_text(old_entry, encoding="utf-8")
    before = {p.name: p.read_text(encoding="utf-8") for p in apps.iterdir()}

    done = run_script(tool, "kur.sh", script_env(tmp_path, **mv_shim(tmp_path, mv_body)))
    assert done.returncode == returncode
    assert {p.name: p.read_text(encoding="utf-8") for p in apps.iterdir()} == before


# --- the tool's window --------------------------------------------------------------------------

# Runs an app.py as its own program does, and once its window is up prints what it shows and quits.
WINDOW_PROBE = r"""
import json, runpy, sys
from PyQt5 import QtWidgets
from PyQt5.QtCore import QTimer

class Probe(QtWidgets.QApplication):
    def __init__(self, argv):
        super().__init__(argv)
        QTimer.singleShot(0, self.report)

    def report(self):
        print(json.dumps([[w.windowTitle(), w.text(), not w.windowIcon().isNull()]
                          for w in self.topLevelWidgets() if w.isVisible()]))
        self.quit()

QtWidgets.QApplication = Probe
sys.argv = [sys.argv[1]]
runpy.run_path(sys.argv[0], run_name="__main__")
"""


@pytest.mark.parametrize("tool, title", TOOLS, ids=TOOL_IDS)
def test_app_opens_one_window_titled_after_its_tool_with_its_icon(tmp_path, tool, title):
    env = script_env(tmp_path, QT_QPA_PLATFORM="offscreen")
    done = subprocess.run([PYTHON, "-c", WINDOW_PROBE, str(STAGE / tool / "app.py")], env=env,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) == [[title, f"{title} çalışıyor.", True]]
