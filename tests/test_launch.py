"""Starting a tool: the nine places its program may be installed, the fallback app.py, and
what the user is told."""
import os
import pathlib
import subprocess
import time
import types

import pytest

from vocabulary import TITLES

TITLE = TITLES["z47-cloud"]


class PopenRecorder:
    def __init__(self):
        self.calls = []

    def __call__(self, *args, **kwargs):
        self.calls.append((args, kwargs))
        return object()


@pytest.fixture
def places(tmp_path, monkeypatch, centre, tool_tree):
    """Points every place the launcher searches at temporary folders; records Popen calls."""
    exe_dir = tmp_path / "python-bin"
    exe_dir.mkdir()
    monkeypatch.setattr(centre.sys, "executable", str(exe_dir / "python3"))
    pf, local = tmp_path / "pf", tmp_path / "local"
    monkeypatch.setenv("ProgramFiles", str(pf))
    monkeypatch.setenv("LOCALAPPDATA", str(local))
    popen = PopenRecorder()
    monkeypatch.setattr(centre, "subprocess", types.SimpleNamespace(Popen=popen))
    return {"exe": exe_dir, "base": tool_tree.base, "pf": pf, "local": local / "Programs", "popen": popen}


@pytest.fixture
def cloud(record_of):
    return record_of("z47-cloud")


def make_file(path: pathlib.Path, text="#!/bin/sh\n", mode=0o755):
    """A program at `path`: by default a script the user may run."""
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    path.chmod(mode)
    return path


def started(places):
    return [args[0] for args, _ in places["popen"].calls]


def test_places_are_tried_in_order(window, places, cloud, tool_tree):
    # The tool's folder under the base directory is a folder named like candidate 5; remove it
    # so that a file can stand there.
    tool_tree.folder("z47-cloud").rmdir()
    e, b, pf, lp = places["exe"], places["base"], places["pf"], places["local"]
    ordered = [e / "Z47_Sevra.exe", e / "Z47_Cloud.exe", e / "z47-cloud", b / "Z47_Sevra.exe", b / "z47-cloud",
               pf / "Z47_Sevra" / "Z47_Sevra.exe", pf / "Z47_Sevra" / "Z47_Cloud.exe",
               lp / "Z47_Sevra" / "Z47_Sevra.exe"]
    window.launch_one(cloud)  # nothing installed yet: the tool's own app.py
    expected = [cloud["run_cmd"]]
    for path in reversed(ordered):
        make_file(path)
        window.launch_one(cloud)
        expected.append([str(path)])
    assert started(places) == expected
    assert window.lbl_status.text() == f"▶ {TITLE} başlatıldı."


def test_usr_bin_is_the_last_place(window, places):
    record = {"id": "bash", "title": "Kabuk", "run_cmd": ["yok"]}
    window.launch_one(record)
    assert started(places) == [["/usr/bin/bash"]]
    assert window.lbl_status.text() == "▶ Kabuk başlatıldı."


def test_records_without_windows_names_skip_those_places(window, places, tool_tree):
    record = {"id": "arac", "title": "Araç", "run_cmd": ["/usr/bin/python3", str(make_file(tool_tree.base / "arac" / "app.py"))]}
    make_file(places["pf"] / "arac")  # would be found if an empty folder name were joined
    window.launch_one(record)
    assert started(places) == [record["run_cmd"]]


@pytest.mark.parametrize("unset", ["ProgramFiles", "LOCALAPPDATA"])
def test_relative_places_are_never_looked_up_in_the_current_folder(window, places, cloud, tmp_path, monkeypatch,
                                                                   unset):
    monkeypatch.delenv(unset)
    cwd = tmp_path / "cwd"
    relative = {"ProgramFiles": pathlib.Path("C:\\Program Files") / "Z47_Sevra" / "Z47_Sevra.exe",
                "LOCALAPPDATA": pathlib.Path("Programs") / "Z47_Sevra" / "Z47_Sevra.exe"}[unset]
    make_file(cwd / relative)
    monkeypatch.chdir(cwd)
    window.launch_one(cloud)
    assert started(places) == [cloud["run_cmd"]]


def test_missing_app_py_is_reported_and_nothing_starts(window, places, boxes, tmp_path):
    missing = tmp_path / "yok" / "app.py"
    record = {"id": "yok-arac", "title": "Yok", "run_cmd": ["/usr/bin/python3", str(missing)]}
    window.launch_one(record)
    assert started(places) == []
    assert boxes.calls == [("warning", window, "Başlatma Hatası", f"Hata: Başlatılacak dosya bulunamadı: {missing}")]
    assert window.lbl_status.text().startswith("Hazır")


def test_failed_start_is_reported_and_status_kept(window, places, boxes, centre, monkeypatch, cloud):
    program = make_file(places["exe"] / "Z47_Sevra.exe", "#!/yok/böyle-bir-yorumlayıcı\n")
    monkeypatch.setattr(centre, "subprocess", subprocess)
    window.launch_one(cloud)
    assert boxes.calls == [("warning", window, "Başlatma Hatası",
                            f"Hata: [Errno 2] No such file or directory: '{program}'")]
    assert window.lbl_status.text().startswith("Hazır")


# What stands in an early place that cannot be started, and whether it may hide a program in a
# later place.  On Linux a place counts only for a regular file the user may run that is a
# program; on Windows any regular file counts.
@pytest.mark.parametrize(
    "platform, make_stray, stray_wins",
    [
        ("linux", lambda p: make_file(p, mode=0o644), False),
        ("linux", lambda p: make_file(p, "echo merhaba\n"), False),
        ("linux", lambda p: make_file(p, ""), False),
        ("linux", lambda p: p.mkdir(parents=True), False),
        ("linux", lambda p: make_file(p, "\x7fELF", mode=0o755), True),
        ("linux", lambda p: make_file(p, mode=0o111), True),
        ("win32", lambda p: make_file(p, "MZ", mode=0o644), True),
    ],
    ids=["not-executable", "text-without-#!", "empty", "folder", "binary", "run-but-not-read", "windows-any-file"],
)
def test_only_a_startable_program_counts_as_installed(window, places, centre, monkeypatch, cloud,
                                                       platform, make_stray, stray_wins):
    monkeypatch.setattr(centre.sys, "platform", platform)
    stray = places["exe"] / "Z47_Sevra.exe"  # the first place
    make_stray(stray)
    program = make_file(places["pf"] / "Z47_Sevra" / "Z47_Sevra.exe")  # the sixth place
    window.launch_one(cloud)
    assert started(places) == [[str(stray if stray_wins else program)]]


def test_without_any_startable_program_the_tools_app_py_runs(window, places, cloud):
    make_file(places["exe"] / "Z47_Sevra.exe", mode=0o644)
    make_file(places["base"] / "Z47_Sevra.exe", "düz metin\n")
    window.launch_one(cloud)
    assert started(places) == [cloud["run_cmd"]]


def test_two_clicks_start_two_processes(window, places, cloud):
    window.launch_one(cloud)
    window.launch_one(cloud)
    assert started(places) == [cloud["run_cmd"]] * 2


@pytest.mark.parametrize("platform, own_session", [("linux", True), ("win32", False)])
def test_started_tool_leads_its_own_session_off_windows(window, places, centre, monkeypatch, tmp_path, cloud,
                                                        platform, own_session):
    report = tmp_path / "session.txt"
    program = make_file(places["exe"] / "Z47_Sevra.exe")
    program.write_text(f'#!/bin/sh\necho "$$ $(ps -o sid= -p $$)" > "{report}.tmp"\nmv "{report}.tmp" "{report}"\n')
    program.chmod(0o755)
    monkeypatch.setattr(centre, "subprocess", subprocess)
    monkeypatch.setattr(centre.sys, "platform", platform)
    window.launch_one(cloud)
    deadline = time.monotonic() + 30
    while not report.exists() and time.monotonic() < deadline:
        time.sleep(0.02)
    pid, sid = report.read_text().split()
    assert (pid == sid) is own_session
    assert sid != str(os.getsid(0)) or not own_session
    assert window.lbl_status.text() == f"▶ {TITLE} başlatıldı."


# With the interpreter's path unknown (an empty sys.executable; run_cmd then names a bare
# "python3"), nothing is started from the current folder or the one above it: there are no
# places beside an unknown interpreter, and a bare command is looked up in absolute PATH
# folders only (an empty entry, here the first, stands for the current folder).
@pytest.mark.parametrize(
    "planted, program",
    [
        ("../z47-system-network", "/usr/bin/python3"),  # "beside the interpreter": the parent
        ("python3", "python3"),                         # the bare name, found through ""
    ],
    ids=["beside-an-unknown-interpreter", "bare-name-in-the-current-folder"],
)
def test_nothing_starts_from_the_current_folder_when_the_interpreter_is_unknown(
        window, qtbot, centre, monkeypatch, tmp_path, tool_tree, planted, program):
    monkeypatch.setattr(centre.sys, "executable", "")
    monkeypatch.setenv("PATH", os.pathsep.join(["", "/usr/bin", "/bin"]))
    for variable in ("ProgramFiles", "LOCALAPPDATA"):
        monkeypatch.setenv(variable, str(tmp_path / variable))
    ran = tmp_path / "ran"
    cwd = tmp_path / "here" / "cwd"
    make_file(cwd / planted, f'#!/bin/sh\necho planted > "{ran}.tmp"\nmv "{ran}.tmp" "{ran}"\n')
    app = make_file(tmp_path / "tool" / "app.py",
                    f"import os\nopen({str(ran)!r} + '.tmp', 'w').write('app')\nos.rename({str(ran)!r} + '.tmp', {str(ran)!r})\n")
    record = {"id": "z47-system-network", "title": "Ağ", "run_cmd": [program, str(app)]}
    monkeypatch.chdir(cwd)
    window.launch_one(record)
    qtbot.waitUntil(ran.exists, timeout=30_000)  # whatever was started has written who it is
    assert ran.read_text().strip() == "app"
    assert window.lbl_status.text() == "▶ Ağ başlatıldı."


def test_a_bare_command_found_nowhere_is_reported(window, places, boxes, centre, monkeypatch, tmp_path):
    monkeypatch.setattr(centre, "subprocess", subprocess)
    monkeypatch.setenv("PATH", str(tmp_path / "boş"))
    app = make_file(tmp_path / "tool" / "app.py")
    window.launch_one({"id": "arac", "title": "Araç", "run_cmd": ["python3", str(app)]})
    assert boxes.calls == [("warning", window, "Başlatma Hatası",
                            "Hata: [Errno 2] No such file or directory: 'python3'")]
