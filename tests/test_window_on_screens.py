"""The window as it opens on the screens people have: a laptop's 1366 x 768 and a 1920 x 1080
monitor, at 100, 125 and 150 % (Xft.dpi 96, 120, 144), under a window manager that keeps a
task bar's strip free.  It opens inside the available area at the screen's own scale, with
nothing cut off; a picture of each is kept in build/screenshots."""
import shutil

import pytest

from desktop import WINDOW_TITLE, assert_fits_its_screen, start_probed_centre, x_desktop, x_frame_of, x_work_area
from helpers import ROOT

SHOTS = ROOT / "build" / "screenshots"


@pytest.mark.slow
@pytest.mark.parametrize("dpi", [96, 120, 144])
@pytest.mark.parametrize("screen", [(1366, 768), (1920, 1080)], ids=["1366x768", "1920x1080"])
def test_window_opens_inside_the_available_area_at_the_screens_scale(tmp_path, screen, dpi):
    with x_desktop(tmp_path / "desktop", screen, dpi) as display:
        run = start_probed_centre(display, tmp_path / "centre")
        try:
            window = run.window()
            frame, area = x_frame_of(display, WINDOW_TITLE), x_work_area(display)
        finally:
            assert run.release() == 0, run.process.stderr.read()[-3000:]
    assert_fits_its_screen(window, dpi / 96, frame, area)
    SHOTS.mkdir(parents=True, exist_ok=True)
    shutil.copy(tmp_path / "centre" / "window.png", SHOTS / f"linux-{screen[0]}x{screen[1]}-{dpi}dpi.png")
