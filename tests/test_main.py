"""main(): the application, the window, the event loop and how main ends."""
import json
import subprocess

import pytest

from desktop import run_probed_centre
from helpers import ROOT, run_python

# Drives main() in a fresh process with the module's QApplication replaced by a subclass whose
# event loop records what a person would see and then ends with a chosen code (argv[1], JSON:
# null for the loop's own).
DRIVER = """
    import json, sys, traceback
    CODE = json.loads(sys.argv[1])
    import Z47_Kurulum_Merkezi as m
    from PyQt5.QtCore import QTimer
    seen = {}
    class RecordingApp(m.QApplication):
        def exec_(self):
            wins = [w for w in self.topLevelWidgets() if w.isVisible()]
            seen["windows"] = [type(w).__name__ for w in wins]
            seen["font"] = [self.font().family(), self.font().pointSize(), self.font().bold()]
            seen["argv"] = self.arguments()
            seen["hidpi"] = [m.QApplication.testAttribute(m.Qt.AA_EnableHighDpiScaling),
                             m.QApplication.testAttribute(m.Qt.AA_UseHighDpiPixmaps)]
            QTimer.singleShot(0, self.closeAllWindows)
            code = super().exec_()
            return CODE if CODE is not None else code
    m.QApplication = RecordingApp
    sys.argv = ["centre", "--tool", "deger"]
    try:
        m.main()
        seen["end"] = "returned"
    except SystemExit as end:
        seen["end"] = ["SystemExit", end.code]
    except BaseException as exc:
        seen["end"] = [type(exc).__name__, str(exc), [f.name for f in traceback.extract_tb(exc.__traceback__)]]
    print(json.dumps(seen))
"""


def drive(code=None, **kwargs):
    done = run_python(DRIVER, json.dumps(code), **kwargs)
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout.strip().splitlines()[-1])


def test_closing_the_window_ends_main_with_the_loop_code_zero():
    seen = drive()
    assert seen["windows"] == ["Z47InstallerCenter"]
    assert seen["end"] == ["SystemExit", 0]
    assert seen["font"] == ["Roboto", 10, True]
    assert seen["argv"] == ["centre", "--tool", "deger"]
    assert seen["hidpi"] == [True, True]


@pytest.mark.parametrize("code", [3, -1])
def test_main_passes_on_the_loop_code(code):
    assert drive(code)["end"] == ["SystemExit", code]


def test_a_failing_step_of_main_reaches_the_caller_with_a_main_frame():
    done = run_python("""
        import json, traceback
        import Z47_Kurulum_Merkezi as m
        class Broken(m.QApplication):
            def __init__(self, argv):
                raise OSError("ekran yok")
        m.QApplication = Broken
        try:
            m.main()
        except OSError as exc:
            print(json.dumps([str(exc), [f.name for f in traceback.extract_tb(exc.__traceback__)]]))
    """)
    message, frames = json.loads(done.stdout.strip().splitlines()[-1])
    assert message == "ekran yok"
    assert "Z47_Kurulum_Merkezi.main" in frames


@pytest.mark.slow
def test_the_window_under_xvfb_has_the_asked_size_and_is_not_blank(tmp_path):
    """What a person sees: the real window on a real X server, photographed."""
    shot = tmp_path / "centre.png"
    done = subprocess.run(
        ["xvfb-run", "-a", "-s", "-screen 0 1280x800x24 -dpi 96", "/usr/bin/python3",
         str(ROOT / "scripts" / "run_centre.py"), "--screenshot", str(shot)],
        capture_output=True, text=True, timeout=120,
        env={"PATH": "/usr/bin:/bin", "HOME": str(tmp_path), "XDG_RUNTIME_DIR": str(tmp_path)})
    assert done.returncode == 0, done.stderr
    from PyQt5.QtGui import QImage
    image = QImage(str(shot))
    assert (image.width(), image.height()) == (1120, 740)
    colours = {image.pixel(x, y) for x in range(0, 1120, 7) for y in range(0, 740, 7)}
    assert len(colours) > 20  # text, cards and buttons, not one flat colour
    background = image.pixelColor(5, 730).name().upper()
    assert background == "#F4F7FB"


def test_the_centre_has_its_name_and_its_boxes_speak_turkish(tmp_path):
    # The centre as its start command runs it, with the real boxes: Qt's standard buttons in
    # Turkish whatever the system language, and Enter in the removal box answers "Hayır".
    env = {"XDG_DATA_HOME": str(tmp_path / "data"), "HOME": str(tmp_path / "home"), "LANG": "C.UTF-8",
           "LANGUAGE": None, "LC_ALL": None}
    findings = run_probed_centre(None, tmp_path, env=env, actions=[
        ["install_one", "z47-delmo"], ["launch_missing"], ["uninstall_one", "z47-delmo"]])
    [window] = [what for kind, what in findings if kind == "window"]
    assert (window["application"], window["desktop_file"]) == ("Z47 Kurulum Merkezi", "z47-kurulum-merkezi")
    boxes = [(box["caption"], box["buttons"], box["default"]) for kind, box in findings if kind == "box"]
    assert boxes == [("Kurulum Tamamlandı", ["Tamam"], "Tamam"),
                     ("Başlatma Hatası", ["Tamam"], "Tamam"),
                     ("Kaldırma Onayı", ["&Evet", "&Hayır"], "&Hayır")]
    assert (tmp_path / "data" / "applications" / "z47-delmo.desktop").exists()  # not removed
