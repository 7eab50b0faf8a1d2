"""The Windows launcher's own code under wine, with a test double of python312.dll that
writes down every runtime call (launcher/windows/testing): what only a double can show, such as
the order of the runtime calls, the configuration handed over, and runtime answers the real
runtime never gives here.  The package with the real runtime is tested in
test_windows_package.py."""
import pytest

from launcher_env import (CENTRE_TITLE, PACKAGE_TITLE, RUNTIME_FAILURE, read_calls, start_up_log, stop,
                          windows_launcher_missing, windows_path)

pytestmark = [pytest.mark.skipif(windows_launcher_missing() is not None, reason=str(windows_launcher_missing())),
              pytest.mark.slow]

# Each configuration value is checked as it is set.
CONFIGURATION = ["PyConfig_InitPythonConfig", "PyConfig_SetString", "PyStatus_Exception"]
EXECUTABLE = ["PyConfig_SetString", "PyStatus_Exception"]
ARGV = ["PyConfig_SetArgv", "PyStatus_Exception"]
START_UP = ARGV + ["Py_InitializeFromConfig", "PyConfig_Clear", "PyStatus_Exception", "Py_IsInitialized"]
SCRIPT_AND_EXIT_CODE = ["PyRun_SimpleStringFlags", "PySys_GetObject", "PyLong_AsLong", "PyErr_Occurred"]


def calls_made(calls: list) -> list:
    """The runtime functions called, in order, without the values written down with them."""
    return [line.split(" ")[0] for line in calls if line.split(" ")[0].startswith("Py")]


def value_of(calls: list, key: str) -> str:
    return next(line[len(key) + 1:] for line in calls if line.startswith(key + " "))


@pytest.mark.parametrize("has_pythonw", [True, False], ids=["pythonw-beside", "no-pythonw"])
def test_runtime_gets_its_configuration_before_it_starts(windows_folder, has_pythonw):
    if has_pythonw:
        (windows_folder.path / "pythonw.exe").write_bytes(b"MZ")
    result, calls = windows_folder.run(env={"PYTHONPATH": "C:\\başka\\yer"}, exit_code="0")

    assert result.returncode == 0
    assert calls_made(calls) == (CONFIGURATION + EXECUTABLE * has_pythonw + START_UP
                                 + SCRIPT_AND_EXIT_CODE + ["Py_FinalizeEx"])
    folder = windows_path(windows_folder.path)
    texts = [line for line in calls if line.startswith("PyConfig_SetString ")]
    # The runtime is told its search path in its configuration, whatever its C runtime has
    # read of the environment, and names pythonw.exe, never the launcher, as sys.executable.
    assert texts == [f"PyConfig_SetString pythonpath_env {folder}"] + (
        [f"PyConfig_SetString executable {folder}\\pythonw.exe"] if has_pythonw else [])
    # Words are sys.argv, never interpreter options.
    assert value_of(calls, "Py_InitializeFromConfig") == "parse_argv=0"
    # The launcher's folder is the working directory, the DLL directory and the whole PYTHONPATH.
    assert [value_of(calls, key) for key in ("cwd", "dll_directory", "PYTHONPATH")] == [folder] * 3


@pytest.mark.parametrize(
    "double, after_script",
    [
        ({"exit_code": "missing"}, ["PyRun_SimpleStringFlags", "PySys_GetObject"]),
        ({"exit_code": "not-a-long"}, SCRIPT_AND_EXIT_CODE + ["PyErr_Clear"]),
        ({"exit_code": "5", "script": "raise"}, ["PyRun_SimpleStringFlags", "PySys_GetObject"]),
    ],
    ids=["no-code", "not-a-long", "script-raised"],
)
def test_script_without_a_usable_exit_code_ends_with_1(windows_folder, double, after_script):
    result, calls = windows_folder.run(**double)
    assert result.returncode == 1
    assert calls_made(calls) == CONFIGURATION + START_UP + after_script + ["Py_FinalizeEx"]
    assert calls[-1] == "Py_FinalizeEx"  # no runtime error left pending at shutdown


REFUSED = "test double: memory allocation failed"


@pytest.mark.parametrize(
    "double, calls_before_box, reason",
    [
        ({"start": "error"}, CONFIGURATION + EXECUTABLE + START_UP[:-1],
         "Py_InitializeFromConfig: test double: start refused"),
        ({"start": "exit"}, CONFIGURATION + EXECUTABLE + START_UP[:-1],
         "Py_InitializeFromConfig: exit requested with code 0"),
        ({"start": "not-initialised"}, CONFIGURATION + EXECUTABLE + START_UP,
         "Py_IsInitialized: the runtime is not initialised"),
        # A configuration value that cannot be set is a failed start, never a start without it
        # (without `executable` the centre would start tools with the launcher itself).
        ({"refuse": "pythonpath_env"}, CONFIGURATION + ["PyConfig_Clear"], f"PyConfig_SetString: {REFUSED}"),
        ({"refuse": "executable"}, CONFIGURATION + EXECUTABLE + ["PyConfig_Clear"], f"PyConfig_SetString: {REFUSED}"),
        ({"refuse": "argv"}, CONFIGURATION + EXECUTABLE + ARGV + ["PyConfig_Clear"], f"PyConfig_SetArgv: {REFUSED}"),
    ],
    ids=["start-error", "start-exit", "not-initialised", "pythonpath-refused", "executable-refused",
         "argv-refused"],
)
def test_runtime_that_cannot_start_shows_the_box_and_ends_with_1(windows_folder, wine, double,
                                                                 calls_before_box, reason):
    (windows_folder.path / "pythonw.exe").write_bytes(b"MZ")  # so that `executable` is set
    log = start_up_log(wine)
    if log.exists():
        log.unlink()
    process, record = windows_folder.start(**double)
    try:
        box = wine.probe("box", PACKAGE_TITLE, "20000")  # reads the box, then presses OK
        assert box.returncode == 0, "no runtime failure box"
        assert box.text.splitlines() == ["#32770", PACKAGE_TITLE, RUNTIME_FAILURE]
        assert process.wait(timeout=30) == 1
    finally:
        stop(process)
    # The runtime is neither run nor shut down when it never came up.
    assert calls_made(read_calls(record)) == calls_before_box
    # The box stays as it is; the log has the runtime's own reason.
    assert log.read_bytes().decode("utf-8") == f"{RUNTIME_FAILURE}\r\n{reason}\r\n"


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


# The real centre behind another window, and the real start-up error box minimised, are
# brought forward in test_windows_package.py; the double adds a minimised centre window.
def test_second_start_restores_a_minimised_centre_window(windows_folder, wine, running):
    title = CENTRE_TITLE + " — Z47 Yazılım Ekibi"
    running(title)
    running("Başka bir program", "--headless")  # unguarded, its window now in front
    wine.probe("minimise", title)
    assert window_state(wine, title)["iconic"] == "1"

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
