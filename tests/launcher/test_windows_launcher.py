"""The Windows launcher's own code under wine, with a test double of python312.dll that
writes down every runtime call (launcher/windows/testing): the command line handed over,
the directories, the exit-code protocol, the runtime failure box and the single-instance
guard with its window search.  The real python312.dll only runs on Windows."""
import pytest

from launcher_env import (CENTRE_TITLE, LAUNCHER, PACKAGE_TITLE, RUNTIME_FAILURE, read_calls, stop,
                          windows_path)

START_UP = ["PyConfig_InitPythonConfig", "PyConfig_SetArgv", "Py_InitializeFromConfig",
            "PyConfig_Clear", "PyStatus_Exception", "Py_IsInitialized"]
SCRIPT_AND_EXIT_CODE = ["PyRun_SimpleStringFlags", "PySys_GetObject", "PyLong_AsLong", "PyErr_Occurred"]


def calls_made(calls: list) -> list:
    """The runtime functions called, in order, without the values written down with them."""
    return [line.split(" ")[0] for line in calls if line.split(" ")[0].startswith("Py")]


def value_of(calls: list, key: str) -> str:
    return next(line[len(key) + 1:] for line in calls if line.startswith(key + " "))


def test_command_line_reaches_the_runtime_word_for_word(windows_folder):
    words = ["-c", "print('bu çalışmamalı')", "boşluklu bir kelime", 'tırnak "içinde"',
             "Türkçe ĞÜŞİÖÇ ğüşıöç", "--", "-m"]
    result, calls = windows_folder.run(*words, env={"PYTHONPATH": "C:\\başka\\yer"}, exit_code="0")

    assert result.returncode == 0
    assert calls_made(calls) == START_UP + SCRIPT_AND_EXIT_CODE + ["Py_FinalizeEx"]
    argv = [line[len("argv "):] for line in calls if line.startswith("argv ")]
    assert value_of(calls, "PyConfig_SetArgv") == str(len(words) + 1)
    assert argv == [windows_path(windows_folder.launcher), *words]
    # Words are sys.argv, never interpreter options.
    assert value_of(calls, "Py_InitializeFromConfig") == "parse_argv=0"
    # The launcher's folder is the working directory, the DLL directory and the whole PYTHONPATH.
    folder = windows_path(windows_folder.path)
    assert [value_of(calls, key) for key in ("cwd", "dll_directory", "PYTHONPATH")] == [folder] * 3


def test_bootstrap_script_is_the_one_the_linux_launcher_runs(windows_folder):
    script = windows_folder.path.parent / "script.py"
    result, calls = windows_folder.run(script_file=windows_path(script))
    assert result.returncode == 0
    assert value_of(calls, "PyRun_SimpleStringFlags") == "flags=none"
    text = script.read_bytes()
    assert text.startswith(b"import sys, os, io\nsys._z47_exit_code = 0\n")
    assert "Baslatma Hatasi".encode() in text and "Masaüstü".encode("utf-8") in text
    # The same UTF-8 constant that the Linux tests run end to end.
    assert text in LAUNCHER.read_bytes()
    compile(text, "<bootstrap>", "exec")


@pytest.mark.parametrize(
    "double, code, after_script",
    [
        ({"exit_code": "7"}, 7, SCRIPT_AND_EXIT_CODE),
        ({"exit_code": "0"}, 0, SCRIPT_AND_EXIT_CODE),
        ({"exit_code": "missing"}, 1, ["PyRun_SimpleStringFlags", "PySys_GetObject"]),
        ({"exit_code": "not-a-long"}, 1, SCRIPT_AND_EXIT_CODE + ["PyErr_Clear"]),
        ({"exit_code": "5", "script": "raise"}, 1, ["PyRun_SimpleStringFlags", "PySys_GetObject"]),
    ],
    ids=["code", "zero", "no-code", "not-a-long", "script-raised"],
)
def test_exit_code_protocol(windows_folder, double, code, after_script):
    result, calls = windows_folder.run(**double)
    assert result.returncode == code
    assert calls_made(calls) == START_UP + after_script + ["Py_FinalizeEx"]
    assert calls[-1] == "Py_FinalizeEx"  # no runtime error left pending at shutdown


@pytest.mark.parametrize(
    "start, asked_initialised",
    [("error", False), ("exit", False), ("not-initialised", True)],
)
def test_runtime_that_cannot_start_shows_the_box_and_ends_with_1(windows_folder, wine, start,
                                                                 asked_initialised):
    process, record = windows_folder.start(start=start)
    try:
        box = wine.probe("box", PACKAGE_TITLE, "20000")  # reads the box, then presses OK
        assert box.returncode == 0, "no runtime failure box"
        assert box.text.splitlines() == ["#32770", PACKAGE_TITLE, RUNTIME_FAILURE]
        assert process.wait(timeout=30) == 1
    finally:
        stop(process)
    # The runtime is neither run nor shut down when it never came up.
    assert calls_made(read_calls(record)) == START_UP[:-1] + ["Py_IsInitialized"] * asked_initialised


# --- single-instance guard and window search ------------------------------------------------

@pytest.fixture
def running(windows_folder, wine):
    """Starts first instances whose runtime double shows a window, and ends them afterwards."""
    started = []

    def start(title, *args):
        process, record = windows_folder.start(*args, window=title, exit_code="0")
        started.append((title, process))
        assert wine.probe("find", title, "20000").returncode == 0, f"no window {title!r}"
        return process, record

    yield start
    for title, process in reversed(started):
        wine.probe("close", title)
        try:
            assert process.wait(timeout=30) == 0
        finally:
            stop(process)


def window_state(wine, title) -> dict:
    state = wine.probe("state", title)
    assert state.returncode == 0, f"no window {title!r}"
    return dict(pair.split("=") for pair in state.text.split())


@pytest.mark.parametrize(
    "title, minimised",
    [
        (PACKAGE_TITLE + " - Baslatma Hatasi", True),
        (CENTRE_TITLE + " — Z47 Yazılım Ekibi", True),
        (CENTRE_TITLE + " — Z47 Yazılım Ekibi", False),
    ],
    ids=["package-title-minimised", "centre-title-minimised", "centre-title-behind"],
)
def test_second_start_brings_the_running_window_forward(windows_folder, wine, running, title, minimised):
    running(title)
    running("Başka bir program", "--headless")  # unguarded, its window now in front
    if minimised:
        wine.probe("minimise", title)
        assert window_state(wine, title)["iconic"] == "1"
    assert window_state(wine, title)["foreground"] == "0"

    result, calls = windows_folder.run()

    assert result.returncode == 0
    assert calls == []  # the runtime was not started
    assert window_state(wine, title) == {"iconic": "0", "visible": "1", "foreground": "1"}


def test_second_start_leaves_other_windows_alone(windows_folder, wine, running):
    running("Başka bir program")  # the guarded first instance, with a window of another title
    wine.probe("minimise", "Başka bir program")

    result, calls = windows_folder.run()

    assert result.returncode == 0
    assert calls == []
    assert window_state(wine, "Başka bir program")["iconic"] == "1"


@pytest.mark.parametrize("args, runs", [(["--self-test"], True), (["--SELF-TEST"], False)],
                         ids=["guard-flag", "flag-in-other-case"])
def test_guard_flag_skips_the_guard(windows_folder, running, args, runs):
    running(CENTRE_TITLE)
    result, calls = windows_folder.run(*args, exit_code="0")
    assert result.returncode == 0
    assert ("PyRun_SimpleStringFlags flags=none" in calls) is runs
