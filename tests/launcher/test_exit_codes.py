"""The Linux launcher, end to end: how the centre ends becomes the process exit code, and a
failed start leaves the start-up log."""
import pytest

from launcher_env import CENTRE_TITLE, PACKAGE_TITLE, RUNTIME_FAILURE, interpreter_start_failure

LOG = ("Tevrix", "startup_error.log")


def test_closing_the_real_centre_window_ends_with_0(folder):
    folder.real_centre()
    frame = folder.scratch / "frame.txt"
    result = folder.run(env=folder.env(Z47_FIRST_FRAME=str(frame)))
    assert result.returncode == 0, result.stderr.decode(errors="replace")
    # The real window was shown and painted before it was closed.
    loaded, painted, _, title = frame.read_text(encoding="utf-8").rstrip("\n").split("\t")
    assert 0 < int(loaded) < int(painted)
    assert title.startswith(CENTRE_TITLE)
    assert not folder.appdata.joinpath(*LOG).exists()


@pytest.mark.parametrize(
    "ending, code",
    [
        ("raise SystemExit(None)", 0),
        ("raise SystemExit(5)", 5),
        ("raise SystemExit(True)", 1),
        ("raise SystemExit(False)", 0),
        ("raise SystemExit('Pencere kapatıldı, güle güle')", 1),
        ("raise SystemExit(['liste'])", 1),
        ("raise SystemExit(2 ** 64)", 1),
        ("return None", 0),
    ],
    ids=["none", "int", "true", "false", "text", "list", "too-large-for-long", "returns"],
)
def test_how_main_ends_gives_the_exit_code(folder, ending, code):
    folder.stand_in(f"def main():\n    _report()\n    {ending}\n")
    result = folder.run()
    assert result.returncode == code
    assert folder.report()["argv"][0] == str(folder.launcher)  # main really ran
    # SystemExit is the protocol, not a failure: nothing is printed, shown or logged.
    assert result.stdout == b"" and result.stderr == b""
    assert not folder.appdata.joinpath(*LOG).exists()


def test_module_without_main_ends_with_0(folder):
    folder.stand_in("_report()\n")
    result = folder.run()
    assert result.returncode == 0
    assert folder.report_file.exists()


@pytest.mark.parametrize(
    "body, message",
    [
        ("raise ImportError('PyQt5 bulunamadı')\n", "ImportError: PyQt5 bulunamadı"),
        ("def main():\n    raise RuntimeError('Ana pencere açılamadı')\n", "RuntimeError: Ana pencere açılamadı"),
        ("def main():\n    raise KeyboardInterrupt\n", "KeyboardInterrupt"),
    ],
    ids=["in-import", "in-main", "keyboard-interrupt"],
)
def test_failed_start_ends_with_1_and_writes_the_log(folder, body, message):
    folder.stand_in(body)
    folder.appdata.joinpath("Tevrix").mkdir(parents=True)
    old_log = folder.appdata.joinpath(*LOG)
    old_log.write_text("Traceback (eski başlatma)\neski hata\n", encoding="utf-8")

    result = folder.run()

    assert result.returncode == 1
    log = old_log.read_text(encoding="utf-8")
    assert log.startswith("Traceback (most recent call last):\n")
    assert log.rstrip("\n").endswith(message)
    assert log.count("Traceback") == 1 and "eski hata" not in log  # replaced, not appended
    assert 'File "<string>"' in log  # the bootstrap script's own frame


@pytest.mark.parametrize(
    "localappdata, log_dir",
    [
        (lambda f: f.scratch / "Kullanıcı" / "AppData" / "Local", lambda f: f.scratch / "Kullanıcı" / "AppData" / "Local"),
        (lambda f: None, lambda f: f.path),  # without LOCALAPPDATA: beside the launcher
    ],
    ids=["missing-parents-are-made", "no-localappdata"],
)
def test_start_up_log_location(folder, localappdata, log_dir):
    folder.stand_in("raise ImportError('eksik')\n")
    value = localappdata(folder)
    result = folder.run(env=folder.env(LOCALAPPDATA=None if value is None else str(value)))
    assert result.returncode == 1
    assert log_dir(folder).joinpath(*LOG).read_text(encoding="utf-8").endswith("ImportError: eksik\n")


def test_good_start_leaves_an_old_log_untouched(folder):
    folder.stand_in("def main():\n    raise SystemExit(0)\n")
    old_log = folder.appdata.joinpath(*LOG)
    old_log.parent.mkdir(parents=True)
    old_log.write_text("önceki hata\n", encoding="utf-8")
    assert folder.run().returncode == 0
    assert old_log.read_text(encoding="utf-8") == "önceki hata\n"


def test_unwritable_log_still_ends_with_1(folder):
    folder.stand_in("raise ImportError('eksik')\n")
    blocker = folder.scratch / "dosya"
    blocker.write_text("klasör değil", encoding="utf-8")  # LOCALAPPDATA is a file: no log
    result = folder.run(env=folder.env(LOCALAPPDATA=str(blocker)))
    assert result.returncode == 1
    assert result.stdout == b""


def test_runtime_that_cannot_start_reports_and_ends_with_1(folder):
    folder.stand_in("def main():\n    _report()\n")
    missing_home = str(folder.scratch / "yok")
    result = folder.run(env=folder.env(PYTHONHOME=missing_home))
    assert result.returncode == 1
    assert result.stderr.decode().endswith(f"{PACKAGE_TITLE}: {RUNTIME_FAILURE}\n")
    assert not folder.report_file.exists()
    # The box says only that the runtime did not start; the log also has the runtime's reason,
    # worded as the interpreter itself words it (each Python release words it its own way).
    assert folder.appdata.joinpath(*LOG).read_text(encoding="utf-8") == (
        f"{RUNTIME_FAILURE}\n{interpreter_start_failure(PYTHONHOME=missing_home)}\n")
