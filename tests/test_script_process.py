"""How ScriptWorker starts bash and learns how each script ended: only a bash from an absolute
PATH folder is started; a script's exit status is read even when the centre was started with
SIGCHLD ignored, and a status that cannot be read fails the run."""
import json
import os
import shutil
import signal

import pytest

from helpers import SUCCESS, run_python

NO_BASH = "[Errno 2] No such file or directory: 'bash'"
BASH_NOT_RUNNABLE = "[Errno 13] Permission denied: 'bash'"
SIGCHLD_BIT = 1 << (signal.SIGCHLD - 1)  # in the SigIgn mask of /proc/<pid>/status
REAL_BASH_DIR = os.path.dirname(shutil.which("bash", path=os.confstr("CS_PATH")))


# ---------------------------------------------------------------------------------------------
# Exit statuses with SIGCHLD ignored or set not to keep statuses.  The disposition is the
# process's own, so each case runs in a fresh interpreter.

# Reads and sets SIGCHLD's action with its flags, which Python's signal module does not show.
SIGACTION = r"""
import ctypes, signal
libc = ctypes.CDLL(None, use_errno=True)
SA_NOCLDWAIT = 2

class Sigaction(ctypes.Structure):  # glibc's struct sigaction on Linux
    _fields_ = [("handler", ctypes.c_void_p), ("mask", ctypes.c_ulong * 16),
                ("flags", ctypes.c_int), ("restorer", ctypes.c_void_p)]

def sigchld_action(new=None):
    old = Sigaction()
    if libc.sigaction(signal.SIGCHLD, None if new is None else ctypes.byref(new), ctypes.byref(old)) != 0:
        raise OSError(ctypes.get_errno(), "sigaction")
    return {"ignored": old.handler == 1, "no_wait": bool(old.flags & SA_NOCLDWAIT)}
"""

# Runs a worker over the scripts (argv[1], JSON) and prints SIGCHLD's action before and after,
# and the result.  With argv[2] "no-wait", a library loaded into the centre has first asked the
# kernel not to keep its children's statuses.
RUN_WORKER = SIGACTION + r"""
import json, sys
if sys.argv[2] == "no-wait":
    no_wait = Sigaction()
    no_wait.flags = SA_NOCLDWAIT
    sigchld_action(no_wait)
before = sigchld_action()
from PyQt5.QtCore import Qt
import Z47_Kurulum_Merkezi as centre
results = []
worker = centre.ScriptWorker(json.loads(sys.argv[1]))
worker.done_signal.connect(lambda ok, msg: results.append([ok, msg]), Qt.DirectConnection)
worker.start()
worker.wait()
print(json.dumps({"before": before, "after": sigchld_action(), "results": results}))
"""

# What a session manager that ignores SIGCHLD does: the centre inherits it across exec.  The
# program to run is argv[1], its arguments follow.
IGNORED_BY_PARENT = r"""
import os, signal, sys
signal.signal(signal.SIGCHLD, signal.SIG_IGN)
os.execv(sys.executable, [sys.executable, "-c", *sys.argv[1:]])
"""


def run_fresh_worker(scripts, how):
    args = [json.dumps([str(s) for s in scripts]), "no-wait" if how == "no-wait flag set in the centre" else "-"]
    if how == "ignored by the parent":
        done = run_python(IGNORED_BY_PARENT, RUN_WORKER, *args, timeout=60)
    else:
        done = run_python(RUN_WORKER, *args, timeout=60)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.strip().splitlines()[-1])


@pytest.mark.parametrize("how", ["ignored by the parent", "no-wait flag set in the centre"])
def test_failed_scripts_are_reported_when_sigchld_would_discard_their_statuses(tool_tree, tmp_path, how):
    child_state = tmp_path / "child-status"
    scripts = [
        tool_tree.logging_script("z47-delmo", extra="exit 2"),
        tool_tree.logging_script("z47-linux-monitor", extra=f'grep SigIgn /proc/self/status > "{child_state}"'),
        tool_tree.logging_script("z47-cloud", extra="exit 1"),
    ]

    got = run_fresh_worker(scripts, how)

    # The case is real: before the first start the kernel would have thrown statuses away.
    assert got["before"] == {"ignored": how == "ignored by the parent", "no_wait": how != "ignored by the parent"}
    assert got["results"] == [
        [False, "z47-delmo/kur.sh betiği 2 ve z47-cloud/kur.sh betiği 1 çıkış koduyla sonlandı."]
    ]
    assert got["after"] == {"ignored": False, "no_wait": False}
    assert tool_tree.logged() == ["z47-delmo/kur.sh", "z47-linux-monitor/kur.sh", "z47-cloud/kur.sh"]
    # A command the script starts has SIGCHLD at its default too (bash passes on an ignored one).
    ignored = int(child_state.read_text().split()[1], 16)
    assert not ignored & SIGCHLD_BIT, "SIGCHLD is ignored in the script's commands"


# SIGCHLD is ignored while the first script runs, after bash was started: the kernel collects
# the script on its own and its status is gone.  The fifo (argv[1]) holds the first of the
# scripts (argv[2:]) until then.
LOST_WHILE_RUNNING = r"""
import json, signal, sys
from PyQt5.QtCore import Qt
import Z47_Kurulum_Merkezi as centre
results = []
worker = centre.ScriptWorker(sys.argv[2:])
worker.done_signal.connect(lambda ok, msg: results.append([ok, msg]), Qt.DirectConnection)
worker.start()
with open(sys.argv[1], "w") as fifo:  # opens once the running script opened the other end
    signal.signal(signal.SIGCHLD, signal.SIG_IGN)
    fifo.write("go\n")
worker.wait()
print(json.dumps(results))
"""


def test_script_whose_status_cannot_be_read_ends_the_run_as_a_failure(tool_tree, tmp_path):
    fifo = tmp_path / "hold"
    os.mkfifo(fifo)
    held = tool_tree.logging_script("z47-delmo", extra=f'read -r line < "{fifo}"\nexit 0')
    after = tool_tree.logging_script("z47-cloud")
    done = run_python(LOST_WHILE_RUNNING, fifo, held, after, timeout=60)

    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout.strip().splitlines()[-1]) == [
        [False, f'"bash {held}" komutunun nasıl sonlandığı okunamadı.']
    ]
    assert tool_tree.logged() == ["z47-delmo/kur.sh"]


# ---------------------------------------------------------------------------------------------
# Which bash is started.  An empty or relative PATH entry names the current folder (or one
# below it); a bash planted there must never run in place of the system's.

@pytest.fixture
def planted(tmp_path, monkeypatch):
    """A current folder holding an executable `bash`, and another in its `bin` folder; either
    marks a file when run.  Returns the marker."""
    cwd = tmp_path / "cwd"
    marker = tmp_path / "planted-bash-ran"
    for folder in (cwd, cwd / "bin"):
        folder.mkdir(parents=True)
        fake = folder / "bash"
        fake.write_text(f'#!/bin/sh\necho "$0" >> "{marker}"\n')
        fake.chmod(0o755)
    monkeypatch.chdir(cwd)
    return marker


@pytest.mark.parametrize(
    "path",
    [":{real}", "{empty}::{real}", ".:{real}", "bin:{real}", "./bin:{real}", "{empty}:.::bin:{real}:"],
    ids=["empty entry first", "empty entry between", "dot", "relative folder", "dot-relative folder", "all of them"],
)
def test_bash_is_started_from_the_first_absolute_folder_holding_it(run_worker, tool_tree, tmp_path, monkeypatch,
                                                                   planted, path):
    empty = tmp_path / "empty-bin"
    empty.mkdir()
    args = tmp_path / "args"
    script = tool_tree.logging_script("z47-delmo",
                            extra=f"mapfile -d '' argv < /proc/$$/cmdline\nprintf '%s\\n' \"${{argv[@]}}\" > \"{args}\"")
    monkeypatch.setenv("PATH", path.format(real=REAL_BASH_DIR, empty=empty))

    assert run_worker([script]) == (True, SUCCESS)
    assert not planted.exists()
    assert tool_tree.logged() == ["z47-delmo/kur.sh"]
    assert args.read_text().splitlines() == ["bash", str(script)]


@pytest.mark.parametrize(
    "path",
    ["", ":", "{empty}:", ".", "bin:./bin", "{empty}::bin"],
    ids=["empty", "colon", "trailing colon", "dot", "relative folders", "absolute folder without bash"],
)
def test_no_bash_in_an_absolute_folder_fails_the_start(run_worker, tool_tree, tmp_path, monkeypatch, planted, path):
    empty = tmp_path / "empty-bin"
    empty.mkdir()
    monkeypatch.setenv("PATH", path.format(empty=empty))

    # The failed start ends the run: the second script is not tried either.
    assert run_worker([tool_tree.logging_script("z47-delmo"), tool_tree.logging_script("z47-cloud")]) == (False, NO_BASH)
    assert not planted.exists()
    assert tool_tree.logged() == []


def not_runnable_bash(folder, kind):
    folder.mkdir()
    if kind == "file without execute bit":
        (folder / "bash").write_text("#!/bin/sh\n")
        (folder / "bash").chmod(0o644)  # no execute bit: even root may not run it
    else:
        (folder / "bash").mkdir()


@pytest.mark.parametrize("kind", ["file without execute bit", "folder named bash"])
@pytest.mark.parametrize("then, result", [("", (False, BASH_NOT_RUNNABLE)), (":{real}", (True, SUCCESS))],
                         ids=["alone", "before the real one"])
def test_bash_that_may_not_be_run_is_passed_over_and_named_when_no_other_is_found(
        run_worker, tool_tree, tmp_path, monkeypatch, planted, kind, then, result):
    broken = tmp_path / "broken-bin"
    not_runnable_bash(broken, kind)
    monkeypatch.setenv("PATH", f".:{broken}" + then.format(real=REAL_BASH_DIR))

    scripts = [tool_tree.logging_script("z47-delmo"), tool_tree.logging_script("z47-cloud")]
    assert run_worker(scripts) == result
    assert not planted.exists()
    assert tool_tree.logged() == (["z47-delmo/kur.sh", "z47-cloud/kur.sh"] if result[0] else [])


def test_unset_path_searches_the_systems_default_folders(run_worker, tool_tree, monkeypatch, planted):
    monkeypatch.delenv("PATH", raising=False)

    assert run_worker([tool_tree.logging_script("z47-delmo", extra="exit 3")]) == (
        False, "z47-delmo/kur.sh betiği 3 çıkış koduyla sonlandı.")
    assert not planted.exists()
    assert tool_tree.logged() == ["z47-delmo/kur.sh"]
