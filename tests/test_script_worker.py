"""ScriptWorker: runs the tools' scripts with a real bash on its own thread and reports one
(ok, msg) result per run."""
import json
import os
import pathlib
import shutil
import subprocess
import sys

import pytest
from PyQt5.QtCore import QCoreApplication

from helpers import SUCCESS, folder_every_user_reaches


def test_empty_list_succeeds(run_worker):
    assert run_worker([]) == (True, SUCCESS)


def make_missing(tree, kind):
    base = tree.base
    if kind == "absent":
        return base / "z47-delmo" / "kur.sh"
    if kind == "dangling link":
        link = base / "z47-delmo" / "kur.sh"
        link.symlink_to(base / "nowhere.sh")
        return link
    if kind == "link loop":
        (base / "loop-a").symlink_to(base / "loop-b")
        (base / "loop-b").symlink_to(base / "loop-a")
        return base / "loop-a"
    if kind == "file used as folder":
        plain = tree.script("z47-delmo", "kur.sh", "exit 0")
        return plain / "kur.sh"
    if kind == "name too long":
        return base / ("x" * 300) / "kur.sh"
    raise AssertionError(kind)


@pytest.mark.parametrize("kind", ["absent", "dangling link", "link loop", "file used as folder", "name too long"])
def test_missing_script_is_skipped_and_the_next_one_runs(run_worker, tool_tree, kind):
    missing = make_missing(tool_tree, kind)
    present = tool_tree.logging_script("z47-cloud")
    assert run_worker([missing, present]) == (True, SUCCESS)
    assert tool_tree.logged() == ["z47-cloud/kur.sh"]


@pytest.mark.parametrize(
    "endings, message",
    [
        ({"z47-delmo": "exit 2", "z47-cloud": "exit 0"}, "z47-delmo/kur.sh betiği 2 çıkış koduyla sonlandı."),
        (
            {"z47-delmo": "exit 2", "z47-cloud": "exit 1"},
            "z47-delmo/kur.sh betiği 2 ve z47-cloud/kur.sh betiği 1 çıkış koduyla sonlandı.",
        ),
        (
            {"z47-delmo": "exit 2", "z47-cloud": "exit 1", "z47-linux-monitor": "exit 3"},
            "z47-delmo/kur.sh betiği 2, z47-cloud/kur.sh betiği 1 ve "
            "z47-linux-monitor/kur.sh betiği 3 çıkış koduyla sonlandı.",
        ),
        (
            {"z47-delmo": "exit 0", "z47-cloud": "kill -9 $$"},
            "z47-cloud/kur.sh betiği 9 numaralı sinyalle sonlandı.",
        ),
        (
            {"z47-delmo": "exit 5", "z47-cloud": "kill -9 $$"},
            "z47-delmo/kur.sh betiği 5 çıkış koduyla ve z47-cloud/kur.sh betiği 9 numaralı sinyalle sonlandı.",
        ),
    ],
)
def test_failed_scripts_are_named_with_their_status_and_the_rest_still_run(run_worker, tool_tree, endings, message):
    scripts = [tool_tree.logging_script(folder, extra=ending) for folder, ending in endings.items()]
    assert run_worker(scripts) == (False, message)
    assert tool_tree.logged() == [f"{folder}/kur.sh" for folder in endings]


def test_path_with_shell_characters_reaches_bash_as_one_argument(run_worker, tool_tree, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)  # where an injected `touch INJECTED` would leave its file
    folder = "z47 çöğüşİı \"çift\" 'tek' $(touch INJECTED) `touch INJECTED`; touch INJECTED"
    args_log = tmp_path / "args.log"
    script = tool_tree.script(folder, "kur.sh", f'printf "%s\\n" "$#" "$0" > "{args_log}"\nexit 3')

    assert run_worker([script]) == (False, f"{folder}/kur.sh betiği 3 çıkış koduyla sonlandı.")
    assert args_log.read_text(encoding="utf-8").splitlines() == ["0", str(script)]
    assert not list(tmp_path.rglob("INJECTED"))


def test_script_runs_in_the_centres_directory_environment_and_output(run_worker, tool_tree, tmp_path,
                                                                      monkeypatch, capfd):
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("Z47_PROBE", "değer 1")
    script = tool_tree.script("z47-delmo", "kur.sh", 'echo "dizin=$PWD probe=$Z47_PROBE"')
    assert run_worker([script]) == (True, SUCCESS)
    assert f"dizin={tmp_path} probe=değer 1" in capfd.readouterr().out


def test_script_gets_no_stray_descriptor_and_default_sigpipe(run_worker, tool_tree, tmp_path):
    # A descriptor someone opened without close-on-exec must not reach the installer, and
    # Python's ignored SIGPIPE must not either (a `yes | head` in a script would never end).
    read_end, write_end = os.pipe()
    os.set_inheritable(write_end, True)
    report = tmp_path / "state.log"
    script = tool_tree.script(
        "z47-delmo", "kur.sh",
        f'ls /proc/$$/fd > "{report}"\n'
        f'grep SigIgn /proc/$$/status >> "{report}"\n'
        f'yes | head -n 1 > /dev/null',
    )
    try:
        assert run_worker([script]) == (True, SUCCESS)
    finally:
        os.close(read_end)
        os.close(write_end)
    lines = report.read_text().splitlines()
    fds = {int(line) for line in lines if line.isdigit()}
    ignored = int(next(line for line in lines if line.startswith("SigIgn")).split()[1], 16)
    assert write_end not in fds
    assert {0, 1, 2} <= fds
    assert not ignored & (1 << (13 - 1)), "SIGPIPE is ignored in the script"


def test_no_script_runs_on_windows(run_worker, tool_tree, centre, monkeypatch):
    scripts = [tool_tree.logging_script("z47-delmo"), tool_tree.logging_script("z47-cloud", extra="exit 1")]
    monkeypatch.setattr(centre.sys, "platform", "win32")
    assert run_worker(scripts) == (True, SUCCESS)
    assert tool_tree.logged() == []


@pytest.mark.parametrize(
    "scripts, message",
    [
        ([42], "expected str, bytes or os.PathLike object, not int"),
        (None, "'NoneType' object is not iterable"),
    ],
    ids=["not a path", "not a list"],
)
def test_unexpected_error_is_reported_as_the_runs_result(run_worker, scripts, message):
    assert run_worker(scripts) == (False, message)


# The child that tests an unreadable folder as an unprivileged user: root passes every
# permission check, so as root the worker runs in a process of the user `nobody`.
UNPRIVILEGED_RUN = r"""
import json, sys
sys.path.insert(0, sys.argv[1])
from PyQt5.QtCore import Qt
import Z47_Kurulum_Merkezi as centre
results = []
worker = centre.ScriptWorker(json.loads(sys.argv[2]))
worker.done_signal.connect(lambda ok, msg: results.append([ok, msg]), Qt.DirectConnection)
worker.start()
worker.wait()
print(json.dumps(results))
"""


def run_as_nobody(centre, scripts, readable: pathlib.Path):
    # The build folder may lie where nobody may not enter (a checkout under /root): the module
    # goes into a folder that user can read.
    stage = readable / "module"
    stage.mkdir()
    shutil.copy2(centre.__file__, stage)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    done = subprocess.run(
        [sys.executable, "-c", UNPRIVILEGED_RUN, str(stage), json.dumps([str(s) for s in scripts])],
        user=65534, group=65534, extra_groups=[], env=env, cwd="/", capture_output=True, text=True, timeout=60,
    )
    assert done.returncode == 0, done.stderr
    return [tuple(result) for result in json.loads(done.stdout)]


def test_unreadable_folder_ends_the_run_with_the_systems_error(run_worker, centre):
    with folder_every_user_reaches("z47-worker-") as base:
        base.chmod(0o777)
        log = base / "runs.log"
        locked = base / "z47-delmo"
        locked.mkdir()
        (locked / "kur.sh").write_text(f'echo delmo >> "{log}"\n')
        (base / "z47-cloud").mkdir()
        (base / "z47-cloud" / "kur.sh").write_text(f'echo cloud >> "{log}"\n')
        locked.chmod(0o000)
        scripts = [locked / "kur.sh", base / "z47-cloud" / "kur.sh"]
        message = f"[Errno 13] Permission denied: '{scripts[0]}'"
        try:
            if os.geteuid() == 0:
                assert run_as_nobody(centre, scripts, base) == [(False, message)]
            else:
                assert run_worker(scripts) == (False, message)
            assert not log.exists()
        finally:
            locked.chmod(0o755)


def test_two_workers_started_together_run_in_turn_and_each_report_once(qtbot, centre, tool_tree):
    # Each run writes when it begins and when it ends: runs side by side would interleave.
    log = tool_tree.log()
    slow_fail = tool_tree.script("z47-delmo", "kur.sh", f'echo "1 başladı" >> "{log}"; sleep 0.5; echo "1 bitti" >> "{log}"; exit 4')
    slow_ok = tool_tree.script("z47-cloud", "kur.sh", f'echo "2 başladı" >> "{log}"; sleep 0.5; echo "2 bitti" >> "{log}"')
    workers = [centre.ScriptWorker([slow_fail]), centre.ScriptWorker([slow_ok])]
    results = [[], []]
    for worker, got in zip(workers, results):
        worker.done_signal.connect(lambda ok, msg, got=got: got.append((ok, msg)))
    try:
        with qtbot.waitSignals([w.done_signal for w in workers], timeout=20_000):
            for worker in workers:
                worker.start()
    finally:
        for worker in workers:
            worker.wait()
    QCoreApplication.processEvents()
    assert results == [
        [(False, "z47-delmo/kur.sh betiği 4 çıkış koduyla sonlandı.")],
        [(True, SUCCESS)],
    ]
    assert tool_tree.logged() == ["1 başladı", "1 bitti", "2 başladı", "2 bitti"]  # in the order they were started


def run_held(qtbot, centre, scripts, fifo, while_held):
    """Runs a worker whose first script waits on `fifo`; calls `while_held()` while it waits,
    then lets it go.  Returns the run's only (ok, msg)."""
    worker = centre.ScriptWorker(scripts)
    results = []
    worker.done_signal.connect(lambda ok, msg: results.append((ok, msg)))
    worker.start()
    try:
        with open(fifo, "w") as release:  # opens once the first script is reading the other end
            while_held()
            release.write("go\n")
        qtbot.waitUntil(lambda: bool(results), timeout=20_000)
    finally:
        worker.wait()
    QCoreApplication.processEvents()
    assert len(results) == 1, results
    return results[0]


# Something goes wrong with a later script while the first one still runs: every script that
# failed is named, with its status, and then what ended the run, if anything did.
@pytest.mark.parametrize(
    "first_ends, meanwhile, message, ran",
    [
        ("exit 3", "no bash", "z47-linux-monitor/kur.sh betiği 3 çıkış koduyla sonlandı. "
                              "[Errno 2] No such file or directory: 'bash'", []),
        ("exit 3", "second deleted", "z47-linux-monitor/kur.sh betiği 3 çıkış koduyla sonlandı. "
                                     "z47-vpn-adblocker/kur.sh betiği sırası geldiğinde bulunamadı.",
         ["z47-delmo/kur.sh"]),
        ("exit 0", "second deleted", "z47-vpn-adblocker/kur.sh betiği sırası geldiğinde bulunamadı.",
         ["z47-delmo/kur.sh"]),
    ],
    ids=["failure-then-no-bash", "failure-then-a-script-gone", "a-script-gone"],
)
def test_every_failure_is_named_before_what_ended_the_run(qtbot, centre, tool_tree, tmp_path, monkeypatch,
                                                         first_ends, meanwhile, message, ran):
    fifo = tmp_path / "hold"
    os.mkfifo(fifo)
    first = tool_tree.script("z47-linux-monitor", "kur.sh", f'read -r line < "{fifo}"\n{first_ends}')
    second = tool_tree.logging_script("z47-vpn-adblocker")
    third = tool_tree.logging_script("z47-delmo")

    def meanwhile_():
        if meanwhile == "no bash":
            (tmp_path / "empty-bin").mkdir()
            monkeypatch.setenv("PATH", str(tmp_path / "empty-bin"))
        else:
            second.unlink()  # there at the click, gone by its turn

    assert run_held(qtbot, centre, [first, second, third], fifo, meanwhile_) == (False, message)
    assert tool_tree.logged() == ran


@pytest.mark.slow
def test_script_past_the_time_limit_is_killed_and_ends_the_run(run_worker, tool_tree, tmp_path):
    # Takes the full 45 seconds: the one test of the real limit.  Only bash is killed, so what
    # it started in the background still runs afterwards, as the text says it may.
    pid_file, child_file = tmp_path / "slow.pid", tmp_path / "child.pid"
    failing = tool_tree.logging_script("z47-linux-monitor", extra="exit 3")
    slow = tool_tree.script("z47-delmo", "kur.sh",
                            f'sleep 300 & echo $! > "{child_file}"\necho $$ > "{pid_file}"\nwhile :; do sleep 1; done')
    after = tool_tree.logging_script("z47-cloud")

    try:
        result = run_worker([failing, slow, after], timeout_ms=90_000)

        assert result == (False, "z47-linux-monitor/kur.sh betiği 3 çıkış koduyla sonlandı. "
                                 f'"bash {slow}" komutu 45 saniyelik süre sınırı içinde bitmediği için '
                                 "durduruldu; betiğin başlattığı işlemler çalışmaya devam ediyor olabilir.")
        assert tool_tree.logged() == ["z47-linux-monitor/kur.sh"]
        pid = int(pid_file.read_text())
        with pytest.raises(ProcessLookupError):  # killed and reaped: not even a zombie is left
            os.kill(pid, 0)
        os.kill(int(child_file.read_text()), 0)  # what it started goes on
    finally:
        if child_file.exists():
            os.kill(int(child_file.read_text()), 9)
