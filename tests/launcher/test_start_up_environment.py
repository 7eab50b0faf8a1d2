"""What the Linux launcher and its bootstrap script set up before the centre is imported:
sys.argv, the working directory, PYTHONPATH, sys.path, PATH and the Qt plugin path."""
import os

import pytest

REPORT_AND_END = "def main():\n    _report()\n    raise SystemExit(0)\n"


@pytest.fixture
def started(folder):
    """Runs the launcher with a stand-in centre and returns what the stand-in saw."""
    folder.stand_in(REPORT_AND_END)

    def start(*args, **env_changes):
        result = folder.run(*args, env=folder.env(**env_changes))
        assert result.returncode == 0, result.stderr.decode(errors="replace")
        return folder.report()

    return start


def test_argv_is_the_command_line_word_for_word(folder, started):
    words = ["-c", "print('bu çalışmamalı')", "boşluklu bir kelime", 'tırnak "içinde"', "--", "-m", "ünlü", ""]
    report = started(*words)
    # "-c" and "-m" are not interpreter options: they reach the centre as plain words.
    assert report["argv"] == [str(folder.launcher), *words]
    # A tool's app.py is started with sys.executable: the interpreter, never the launcher again.
    assert report["executable"] == "/usr/bin/python3"


def test_argv_keeps_bytes_that_are_not_utf8(folder, started):
    report = started(b"a\xffb")
    assert report["argv"][1] == "a\udcffb"
    assert os.fsencode(report["argv"][1]) == b"a\xffb"


def test_working_directory_and_pythonpath_are_the_launchers_folder(folder, started):
    report = started(PYTHONPATH="/bir/yerde:/baska/yerde")
    assert report["cwd"] == str(folder.path)
    # An inherited PYTHONPATH is replaced, not extended.
    assert report["PYTHONPATH"] == str(folder.path)
    assert not any(p.startswith(("/bir/yerde", "/baska/yerde")) for p in report["path"])


def test_launcher_folder_leads_sys_path_and_path_once(folder, started):
    report = started(PATH="/usr/bin:/bin")
    assert report["path"][0] == str(folder.path)
    assert report["path"].count(str(folder.path)) == 1  # PYTHONPATH already put it there
    # Joined with the platform's list separator: the first old entry stays intact.
    assert report["PATH"] == f"{folder.path}:/usr/bin:/bin"


@pytest.mark.parametrize("with_qt, path_before, path_after", [
    (True, "/usr/bin", "{folder}:{qt_bin}:/usr/bin"),
    (False, None, "{folder}:"),  # no PATH before: the launcher's folder and one separator
], ids=["with-qt-binaries", "without-qt-and-without-path"])
def test_site_packages_come_first_and_qt_binaries_join_path_when_present(folder, started, with_qt, path_before,
                                                                         path_after):
    site_packages = folder.path / "Lib" / "site-packages"
    qt_bin = site_packages / "PyQt5" / "Qt5" / "bin"
    (qt_bin if with_qt else site_packages).mkdir(parents=True)
    report = started(PATH=path_before)
    assert report["path"][:2] == [str(site_packages), str(folder.path)]
    assert report["PATH"] == path_after.format(folder=folder.path, qt_bin=qt_bin)


@pytest.mark.parametrize(
    "folders, expected",
    [
        (["plugins", "Lib/site-packages/PyQt5/Qt5/plugins"], "plugins"),
        (["plugins"], "plugins"),
        (["Lib/site-packages/PyQt5/Qt5/plugins"], "Lib/site-packages/PyQt5/Qt5/plugins"),
        ([], None),
    ],
    ids=["own-plugins-win", "own-plugins", "qt-package-plugins", "none-keeps-inherited"],
)
def test_qt_plugin_path(folder, started, folders, expected):
    for name in folders:
        (folder.path / name).mkdir(parents=True)
    report = started(QT_QPA_PLATFORM_PLUGIN_PATH="/miras/kalan")
    want = str(folder.path.joinpath(*expected.split("/"))) if expected else "/miras/kalan"
    assert report["QT_QPA_PLATFORM_PLUGIN_PATH"] == want


def test_started_from_another_folder_still_uses_its_own(folder):
    folder.stand_in(REPORT_AND_END)
    elsewhere = folder.scratch / "başka"
    elsewhere.mkdir()
    result = folder.run(cwd=elsewhere)
    assert result.returncode == 0
    assert folder.report()["cwd"] == str(folder.path)
