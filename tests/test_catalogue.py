"""The catalogue of the six tools."""
import os

import pytest

from vocabulary import TOOLS

@pytest.mark.parametrize("index", range(6))
def test_each_record_holds_its_tool(centre, index):
    ident, title, version, accent, win_exe, win_alt, win_dir, desc = TOOLS[index]
    prog = centre.PROGRAMS[index]
    expected_keys = ["id", "win_exe"] + (["win_alt_exe"] if win_alt else []) + [
        "win_dir", "title", "version", "desc", "folder", "deb", "run_cmd", "accent"]
    assert list(prog) == expected_keys
    assert (prog["id"], prog["folder"], prog["title"], prog["version"], prog["accent"]) == \
        (ident, ident, title, version, accent)
    assert (prog["win_exe"], prog.get("win_alt_exe"), prog["win_dir"]) == (win_exe, win_alt, win_dir)
    assert prog["desc"] == desc
    expected_deb = "z47-linux-monitor_1.5.0_amd64.deb / .AppImage / .exe" if index == 0 else ident
    assert prog["deb"] == expected_deb


def test_run_commands_start_each_app_py_with_the_interpreter(centre):
    for prog in centre.PROGRAMS:
        interpreter, script = prog["run_cmd"]
        assert interpreter == centre.PY_EXEC
        assert os.path.isabs(script)
        assert script == str(centre.BASE_Z47_DIR) + os.sep + prog["folder"] + os.sep + "app.py"


def test_catalogue_is_a_list_of_the_six_records_in_order(centre):
    assert type(centre.PROGRAMS) is list
    assert [(type(prog), prog["folder"]) for prog in centre.PROGRAMS] == [(dict, tool.folder) for tool in TOOLS]
