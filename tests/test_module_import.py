"""Importing the module: what it binds, what it changes in the process, and how it behaves
when imported again, from another interpreter, or without PyQt5."""
import pathlib
import subprocess

import pytest

from helpers import STAGE, built_module, run_json

MODULE_FILE = built_module()


def test_only_the_init_function_is_exported():
    out = subprocess.run(["nm", "-D", "--defined-only", str(MODULE_FILE)], check=True,
                         capture_output=True, text=True).stdout
    symbols = [line.split()[-1] for line in out.splitlines() if line.strip()]
    assert symbols == ["PyInit_Z47_Kurulum_Merkezi"]


def test_module_level_names_in_binding_order():
    names = run_json("""
        import json, Z47_Kurulum_Merkezi as m
        print(json.dumps([n for n in vars(m) if not n.startswith("__")]))
    """)
    assert names == [
        "os", "subprocess", "sys", "Path", "Callable", "List", "CREDITS_LINE", "BASE_Z47_DIR",
        "Qt", "QThread", "pyqtSignal", "QFont", "QIcon", "QApplication", "QFrame", "QHBoxLayout",
        "QLabel", "QMainWindow", "QMessageBox", "QPushButton", "QScrollArea", "QVBoxLayout", "QWidget",
        "PY_EXEC", "PROGRAMS", "clean_font", "ScriptWorker", "Z47InstallerCenter", "main",
    ]


def test_import_is_once_per_process_and_opens_no_window():
    result = run_json("""
        import json, sys
        import Z47_Kurulum_Merkezi as first
        programs = first.PROGRAMS
        del sys.modules["Z47_Kurulum_Merkezi"]
        import Z47_Kurulum_Merkezi as second
        from PyQt5.QtWidgets import QApplication
        print(json.dumps({"same": first is second, "same_programs": second.PROGRAMS is programs,
                          "app": QApplication.instance() is not None}))
    """)
    assert result == {"same": True, "same_programs": True, "app": False}


def test_docstring_and_module_attributes(centre):
    doc = centre.__doc__
    lines = doc.split("\n")
    assert doc.startswith("\n") and doc.endswith("\n")
    assert lines[1].startswith("Z47 Masaüstü Araçları Tam Paketi (5'i 1 Arada)") and "(PyQt5)" in lines[1]
    assert lines[2] == "Windows 10/11 (x64), Linux (Debian/Ubuntu/Pardus/Arch) ve macOS Uyumlu"
    assert lines[3] == "Arka Plan İş Parçacığı (QThread) ile Donmayan (Non-Blocking) Kurulum Mimarisi"
    assert lines[4] == centre.CREDITS_LINE
    assert len(lines) == 7 and lines[6] == ""
    assert "Z47 Masaüstü Araçları Tam Paketi" not in centre.CREDITS_LINE
    assert centre.__name__ == "Z47_Kurulum_Merkezi"
    assert pathlib.Path(centre.__file__) == MODULE_FILE


@pytest.mark.parametrize("preset", [None, "0"])
def test_qt_scaling_defaults_are_set_only_when_absent(preset):
    env = {"QT_AUTO_SCREEN_SCALE_FACTOR": preset, "QT_ENABLE_HIGHDPI_SCALING": preset}
    values = run_json("""
        import json, os, Z47_Kurulum_Merkezi
        print(json.dumps([os.environ["QT_AUTO_SCREEN_SCALE_FACTOR"], os.environ["QT_ENABLE_HIGHDPI_SCALING"]]))
    """, env=env)
    expected = preset or "1"
    assert values == [expected, expected]


def test_module_folder_goes_first_on_sys_path_once(tmp_path):
    result = run_json(f"""
        import json, sys
        sys.path.remove({str(STAGE)!r})
        sys.path.insert(0, {str(tmp_path)!r})
        sys.path.append({str(STAGE)!r})
        import Z47_Kurulum_Merkezi
        print(json.dumps([sys.path[-1], sys.path.count({str(STAGE)!r})]))
    """)
    assert result == [str(STAGE), 1]  # already present (last): not added a second time
    fresh = run_json(f"""
        import json, sys, importlib.util
        sys.path[:] = [p for p in sys.path if p != {str(STAGE)!r}]
        spec = importlib.util.spec_from_file_location("Z47_Kurulum_Merkezi", {str(MODULE_FILE)!r})
        m = importlib.util.module_from_spec(spec); spec.loader.exec_module(m)
        print(json.dumps([sys.path[0], sys.path.count({str(STAGE)!r})]))
    """)
    assert fresh == [str(STAGE), 1]


@pytest.mark.parametrize("resolving", ["works", "fails"])
def test_base_dir_is_the_resolved_module_folder(tmp_path, resolving):
    # Where the system cannot resolve the folder (Windows: deeper than its path buffers, with
    # "More data is available"), the folder is taken as given rather than failing the import.
    link = tmp_path / "via-link"
    link.symlink_to(STAGE, target_is_directory=True)
    base = run_json(f"""
        import json, pathlib
        if {resolving!r} == "fails":
            def resolve(self, strict=False):
                raise OSError(234, "More data is available", str(self))
            pathlib.Path.resolve = resolve
        import Z47_Kurulum_Merkezi as m
        print(json.dumps([str(m.BASE_Z47_DIR), type(m.BASE_Z47_DIR).__name__]))
    """, module_dir=link)
    assert base == [str(STAGE.resolve() if resolving == "works" else link), "PosixPath"]


@pytest.mark.parametrize("executable, expected", [
    ("''", "python3"),
    ("None", "python3"),
    ("'/opt/tools/python'", "/opt/tools/python"),
])
def test_interpreter_used_for_tools(executable, expected):
    result = run_json(f"""
        import json, sys
        sys.executable = {executable}
        import Z47_Kurulum_Merkezi as m
        print(json.dumps([m.PY_EXEC, [p["run_cmd"][0] for p in m.PROGRAMS]]))
    """)
    assert result == [expected, [expected] * 6]


def test_import_fails_cleanly_without_pyqt5_and_can_be_retried(tmp_path):
    # A PyQt5 package that cannot be imported stands in for a missing installation.
    broken = tmp_path / "PyQt5"
    broken.mkdir()
    (broken / "__init__.py").write_text("raise ImportError('PyQt5 yok')\n")
    result = run_json(f"""
        import json, os, sys, traceback
        sys.path.insert(0, {str(tmp_path)!r})
        try:
            import Z47_Kurulum_Merkezi
        except ImportError as exc:
            entries = [f.name for f in traceback.extract_tb(exc.__traceback__)]
            error = [type(exc).__name__, str(exc), entries[-2:]]
        gone = "Z47_Kurulum_Merkezi" not in sys.modules
        env = [os.environ.get("QT_AUTO_SCREEN_SCALE_FACTOR"), os.environ.get("QT_ENABLE_HIGHDPI_SCALING")]
        # With PyQt5 back, the whole initialisation runs again.
        sys.path.remove({str(tmp_path)!r})
        for name in [n for n in sys.modules if n.startswith("PyQt5")]:
            del sys.modules[name]
        import Z47_Kurulum_Merkezi as m
        print(json.dumps([error, gone, env, hasattr(m, "main")]))
    """, env={"QT_AUTO_SCREEN_SCALE_FACTOR": None, "QT_ENABLE_HIGHDPI_SCALING": None})
    error, gone, env, has_main = result
    assert error[0] == "ImportError" and error[1] == "PyQt5 yok"
    assert "init Z47_Kurulum_Merkezi" in error[2]
    assert gone and env == ["1", "1"] and has_main


def test_a_function_kept_from_a_failed_import_refuses_to_run():
    # The last step of the import registers the exit wait: an atexit that keeps the function
    # and then fails makes the import fail after the functions were made.
    result = run_json("""
        import atexit, json, sys
        real_atexit = atexit
        kept = []
        class FailingAtexit:        # fails for the centre only (PyQt5 registers its own too)
            def register(self, func, *args):
                if getattr(func, "__module__", None) != "Z47_Kurulum_Merkezi":
                    return real_atexit.register(func, *args)
                kept.append(func)
                raise OSError("atexit bozuk")
        sys.modules["atexit"] = FailingAtexit()
        try:
            import Z47_Kurulum_Merkezi
        except OSError:
            pass
        sys.modules["atexit"] = real_atexit

        def outcome(func):
            try:
                func()
                return "ran"
            except Exception as exc:
                return [type(exc).__name__, str(exc)]
        before = outcome(kept[0])
        import Z47_Kurulum_Merkezi as m      # a later import that succeeds
        print(json.dumps([before, outcome(kept[0])]))
    """)
    refused = ["RuntimeError", "_finish_running_scripts() belongs to an import of Z47_Kurulum_Merkezi that "
                               "failed; import the module again"]
    assert result == [refused, refused]


def test_a_second_interpreter_is_refused():
    # A second interpreter that shares the process as a legacy one does, so that the import
    # reaches the module's own check (an isolated one is refused by CPython before that).  The
    # private module that makes one is _interpreters from 3.13, _xxsubinterpreters before.
    result = run_json('''
        try:
            import _interpreters as interpreters
            sub = interpreters.create("legacy")
        except ImportError:
            import _xxsubinterpreters as interpreters
            sub = interpreters.create(isolated=False)
        import Z47_Kurulum_Merkezi
        interpreters.run_string(sub, """if True:
            import json
            try:
                import Z47_Kurulum_Merkezi
                outcome = "imported"
            except Exception as exc:
                outcome = [type(exc).__name__, str(exc)]
            print(json.dumps(outcome), flush=True)""")
    ''')
    assert result == ["ImportError", "Interpreter change detected - this module can only be loaded into one "
                                     "interpreter per process."]
