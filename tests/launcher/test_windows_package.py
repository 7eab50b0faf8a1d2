"""The Windows package as users get it, run under wine with the real Python 3.12 runtime, the
real PyQt5 and the real centre module: unzipped into a folder whose path has spaces and Turkish
letters, double-clicked, used and closed; and the ways a start can fail."""
import pathlib
import re
import shutil
import subprocess
import tempfile
import zipfile

import pytest

from launcher_env import (BUILD, CENTRE_TITLE, LAUNCHER_NAME, MODULE_PYD, PACKAGE, PACKAGE_TITLE,
                          RUNTIME_FAILURE, START_UP_ERROR_CAPTION, PackageFolder, built, screenshot,
                          start_up_log, stop, windows_parts_missing, windows_path, x_window_lines)
from desktop import assert_fits_its_screen, x_desktop, x_frame_of, x_work_area
from launcher_env import wine_session
from pe_file import read_pe
from vocabulary import ALL_READY, ALL_READY_BOX, FOLDERS, NOT_REMOVED_BOX_TAIL, NOT_REMOVED_STATUS_TAIL, READY, TITLES

pytestmark = [pytest.mark.skipif(windows_parts_missing() is not None, reason=str(windows_parts_missing())),
              pytest.mark.slow]

FIRST_TOOL_TITLE, SECOND_TOOL_TITLE = TITLES["z47-linux-monitor"], TITLES["z47-vpn-adblocker"]
DELMO_TITLE = TITLES["z47-delmo"]
# Where a Turkish user unzips a download.
USER_FOLDER = ("Kullanıcılar", "Ayşe Yılmaz", "İndirilenler", "Z47 Kurulum Ğüş")
SHOTS = BUILD / "screenshots"
WINDOW_BACKGROUND = 0xF4F7FB
LAUNCH_BORDER = 0x86EFAC   # the green edge of each card's "Çalıştır"
INSTALL_BORDER = 0x0369A1  # the blue edge of each card's "Kur ve Başlat"


@pytest.fixture
def package(tmp_path, wine) -> PackageFolder:
    folder = PackageFolder(tmp_path.joinpath(*USER_FOLDER, LAUNCHER_NAME), wine)
    log = start_up_log(wine)
    if log.exists():
        log.unlink()  # each test reads only the log its own start wrote
    return folder


def window_state(wine, title) -> dict:
    state = wine.probe("state", title)
    assert state.returncode == 0, f"no window {title!r}"
    return dict(pair.split("=") for pair in state.text.split())


def wait_for_window(wine, title, process=None, timeout_ms=120000):
    found = wine.probe("find", title, str(timeout_ms), timeout=timeout_ms // 1000 + 30)
    if found.returncode != 0:
        ended = "" if process is None or process.poll() is None else f" (the launcher ended with {process.returncode})"
        pytest.fail(f"no window {title!r} appeared{ended}")


# --- what is in the package ------------------------------------------------------------------

def test_package_folder_and_zip_hold_everything_a_user_needs():
    folder = built(PACKAGE)
    for name in (f"{LAUNCHER_NAME}.exe", MODULE_PYD, "python312.dll", "python312.zip", "pythonw.exe",
                 "vcruntime140.dll", "Lib/site-packages/PyQt5/QtWidgets.pyd",
                 "Lib/site-packages/PyQt5/Qt5/plugins/platforms/qwindows.dll"):
        assert (folder / name).is_file(), name
    # The runtime's search path: its standard library, the package folder, then PyQt5's folder.
    assert (folder / "python312._pth").read_bytes().decode("ascii").splitlines() == [
        "python312.zip", ".", "Lib\\site-packages"]
    for tool in FOLDERS:
        for name in ("app.py", "kur.sh", "kaldir.sh", "assets/icon_512.png"):
            assert (folder / tool / name).is_file(), f"{tool}/{name}"
    # Whoever built it can replace it, even from a read-only copy of the Windows parts.
    assert [p for p in (folder, *folder.rglob("*")) if not p.stat().st_mode & 0o200] == []

    archive = folder.parent / f"{LAUNCHER_NAME}-2.0.0-win64.zip"
    with zipfile.ZipFile(archive) as z:
        names = {n for n in z.namelist() if not n.endswith("/")}
        assert z.testzip() is None
    expected = {f"{LAUNCHER_NAME}/{p.relative_to(folder).as_posix()}" for p in folder.rglob("*") if p.is_file()}
    assert names == expected


def test_module_exports_only_its_init_and_shares_the_runtimes_c_library():
    pe = read_pe(built(PACKAGE / MODULE_PYD))
    assert pe.exports == ["PyInit_Z47_Kurulum_Merkezi"]
    dlls = set(pe.imports)
    # The runtime's own Universal C Runtime, never msvcrt beside it (errno, the environment and
    # FILE* do not cross between the two); the compiler's libraries are linked in.
    crt = {d for d in dlls if d.startswith("api-ms-win-crt-")}
    assert crt and dlls - crt == {"python312.dll", "kernel32.dll"}


# --- a user's day with the package --------------------------------------------------------------

def button_centres(image, border: int) -> list:
    """The middle of each button drawn with this edge colour, top to bottom."""
    rows = {}
    for y in range(image.height()):
        xs = [x for x in range(image.width()) if image.pixel(x, y) & 0xFFFFFF == border]
        if xs:
            rows[y] = (min(xs), max(xs))
    buttons, group = [], []
    for y in sorted(rows):
        if group and y - group[-1] > 2:
            buttons.append(group)
            group = []
        group.append(y)
    if group:
        buttons.append(group)
    return [((rows[g[0]][0] + rows[g[0]][1]) // 2, (g[0] + g[-1]) // 2) for g in buttons if 30 <= len(g) <= 44]  # 36 px high, as the cards draw them


def test_centre_opens_from_a_turkish_folder_starts_tools_and_closes_with_0(package, wine):
    from PyQt5.QtGui import QImage

    centre = package.start()
    try:
        wait_for_window(wine, CENTRE_TITLE, centre)

        shot = screenshot(wine.display, CENTRE_TITLE, SHOTS / "windows-centre.png")
        image = QImage(str(shot))
        assert (image.width(), image.height()) == (1120, 740)
        background = sum(image.pixel(x, y) & 0xFFFFFF == WINDOW_BACKGROUND
                         for x in range(0, 1120, 8) for y in range(0, 740, 8))
        assert background > 0.2 * (140 * 93), "the window is not the centre's, or it is blank"
        launch_buttons = button_centres(image, LAUNCH_BORDER)
        install_buttons = button_centres(image, INSTALL_BORDER)
        assert len(launch_buttons) == len(install_buttons) == 6, "one card per tool"

        # "Çalıştır" on the first card starts that tool's app.py with the runtime's pythonw.exe.
        wine.probe("click", CENTRE_TITLE, *map(str, launch_buttons[0]))
        wait_for_window(wine, FIRST_TOOL_TITLE)
        # On Windows "Kur ve Başlat" runs no script: it starts the tool the same way.
        wine.probe("click", CENTRE_TITLE, *map(str, install_buttons[1]))
        wait_for_window(wine, SECOND_TOOL_TITLE)
        for title in (FIRST_TOOL_TITLE, SECOND_TOOL_TITLE):
            line = next(line for line in x_window_lines(wine.display) if f'"{title}' in line)
            assert '("pythonw.exe" "pythonw.exe")' in line, line

        # A second double-click brings the open centre forward and ends at once with 0, as does
        # one whose guard flag is in the wrong letter case.
        assert window_state(wine, CENTRE_TITLE)["foreground"] == "0"
        assert package.run() == 0
        assert window_state(wine, CENTRE_TITLE) == {"iconic": "0", "visible": "1", "foreground": "1"}
        assert package.run("--SELF-TEST") == 0
        assert sum(f'"{CENTRE_TITLE}' in line for line in x_window_lines(wine.display)) == 1

        for title in (FIRST_TOOL_TITLE, SECOND_TOOL_TITLE, CENTRE_TITLE):
            wine.probe("close", title)
        assert centre.wait(timeout=60) == 0
    finally:
        stop(centre)
    assert not start_up_log(wine).exists()


# --- what the real runtime hands the centre --------------------------------------------------

def test_command_line_and_start_up_environment_through_the_real_runtime(package):
    # The stand-in prints Turkish text to a pipe whose code page (1252) has no "Ğ" or "ş".
    package.stand_in("def main():\n    _report()\n    print('Türkçe çıktı: ĞÜŞİ ğüşı')\n")
    words = ["-c", "print('bu çalışmamalı')", "boşluklu bir kelime", 'tırnak "içinde"',
             "Türkçe ĞÜŞİÖÇ ğüşıöç", "--", "-m", "--help"]
    process = package.start(*words, env=package.env(PYTHONPATH="C:\\başka\\yer"), stdout=subprocess.PIPE)
    try:
        assert process.wait(timeout=120) == 0
    finally:
        stop(process)
        process.stdout.close()

    report = package.report()
    folder = windows_path(package.path)
    # Every word reaches sys.argv as it is: "-c", "-m" and "--help" are not interpreter options.
    assert report["argv"] == [windows_path(package.launcher), *words]
    # What the centre starts a tool's app.py with: the runtime's own pythonw.exe.
    assert report["executable"] == folder + "\\pythonw.exe"
    assert report["cwd"] == folder
    assert report["PYTHONPATH"] == folder
    site = folder + "\\Lib\\site-packages"
    # The runtime's ._pth already names both folders, so the script adds no second copy.
    assert report["path"] == [folder + "\\python312.zip", folder, site]
    assert report["PATH"].startswith(f"{folder};{site}\\PyQt5\\Qt5\\bin;")
    plugins = site + "\\PyQt5\\Qt5\\plugins"
    assert report["QT_QPA_PLATFORM_PLUGIN_PATH"] == report["QT_PLUGIN_PATH"] == plugins
    assert report["stdout_errors"] == "replace"


def test_deep_install_folder_is_read_whole(tmp_path, wine):
    # The launcher's own path is longer than MAX_PATH (260); its folder is not.
    deep = tmp_path
    while len(windows_path(deep / LAUNCHER_NAME)) < 200:
        deep = deep / ("klasör-" + "ç" * 20)
    deep = deep / ("son" + "ş" * (230 - len(windows_path(deep / LAUNCHER_NAME)))) / LAUNCHER_NAME
    package = PackageFolder(deep, wine)
    assert 260 < len(windows_path(package.launcher)) and len(windows_path(package.path)) < 258
    package.stand_in("def main():\n    _report()\n")
    assert package.run() == 0
    assert package.report()["cwd"] == windows_path(package.path)


def opened_window(package: PackageFolder) -> dict:
    """The probe's report of the package's window, once it has opened and closed with 0."""
    run = package.start_probed()
    try:
        window = run.window()
        assert run.release() == 0
    finally:
        stop(run.process)
    return window


def folder_of_length(root: pathlib.Path, length: int) -> pathlib.Path:
    """A folder below `root` whose Windows path is `length` characters, in Turkish words."""
    deep = root
    while length - len(windows_path(deep)) > 60:
        deep = deep / ("klasör-" + "ç" * 20)
    return deep / ("son" + "ş" * (length - len(windows_path(deep)) - 4))


DEEPEST_RUNTIME_FOLDER = 241  # the runtime's path set-up: 241 starts, 242 does not


@pytest.mark.parametrize("length", [230, DEEPEST_RUNTIME_FOLDER])
def test_centre_opens_from_a_deep_folder(tmp_path, wine, length):
    # Deep enough that the module's own file path is past MAX_PATH and resolving it fails.
    package = PackageFolder(folder_of_length(tmp_path, length - len(LAUNCHER_NAME) - 1) / LAUNCHER_NAME, wine)
    assert len(windows_path(package.path)) == length
    assert len(opened_window(package)["buttons"]) == 19


def test_folder_too_deep_for_the_runtime_is_named_in_the_log(tmp_path, wine):
    length = DEEPEST_RUNTIME_FOLDER + 1
    package = PackageFolder(folder_of_length(tmp_path, length - len(LAUNCHER_NAME) - 1) / LAUNCHER_NAME, wine)
    log = start_up_log(wine)
    if log.exists():
        log.unlink()
    process = package.start()
    try:
        assert read_box(wine, PACKAGE_TITLE) == ["#32770", PACKAGE_TITLE, RUNTIME_FAILURE]  # as always
        assert process.wait(timeout=60) == 1
    finally:
        stop(process)
    assert log.read_bytes().decode("utf-8") == (
        f"{RUNTIME_FAILURE}\r\n"
        "error evaluating path\r\n"
        f"Paketin klasor yolu Python 3.12 icin cok uzun: {length} karakter, en fazla {DEEPEST_RUNTIME_FOLDER}. "
        "Paketi daha kisa yollu bir klasore (ornegin C:\\Z47) tasiyip yeniden baslatin.\r\n")


@pytest.mark.parametrize(
    "ending, code",
    [("raise SystemExit(7)", 7), ("raise SystemExit('Pencere kapandı')", 1), ("raise SystemExit(2 ** 64)", 1)],
    ids=["int", "text", "too-large-for-long"],
)
def test_how_main_ends_gives_the_exit_code_through_the_real_runtime(package, ending, code):
    package.stand_in(f"def main():\n    _report()\n    {ending}\n")
    assert package.run() == code
    assert package.report()["argv"][0] == windows_path(package.launcher)


# --- failed starts ---------------------------------------------------------------------------

def read_box(wine, caption) -> list:
    box = wine.probe("box", caption, "120000", timeout=150)  # reads the box, then presses OK
    assert box.returncode == 0, f"no box {caption!r}"
    return box.text.splitlines()


def test_package_without_pyqt5_logs_and_shows_the_failed_import(package, wine):
    shutil.rmtree(package.path / "Lib" / "site-packages" / "PyQt5")
    process = package.start()
    try:
        wait_for_window(wine, START_UP_ERROR_CAPTION, process)
        # While the box is open the instance holds the guard: a second start restores the box.
        wine.probe("minimise", START_UP_ERROR_CAPTION)
        assert package.run() == 0
        assert window_state(wine, START_UP_ERROR_CAPTION) == {"iconic": "0", "visible": "1", "foreground": "1"}

        box = read_box(wine, START_UP_ERROR_CAPTION)
        assert process.wait(timeout=60) == 1
    finally:
        stop(process)
    log = start_up_log(wine).read_text(encoding="utf-8")
    assert re.search(r'File "module_init\.cpp", line \d+, in init Z47_Kurulum_Merkezi\n', log)
    assert log.rstrip().endswith("ModuleNotFoundError: No module named 'PyQt5'")
    assert box[1] == START_UP_ERROR_CAPTION and box[2].startswith("Traceback (most recent call last):")


def test_main_that_raises_is_logged_and_shown(package, wine):
    package.stand_in("def main():\n    raise RuntimeError('pencere açılamadı: ĞÜŞ')\n")
    process = package.start()
    try:
        box = read_box(wine, START_UP_ERROR_CAPTION)
        assert process.wait(timeout=60) == 1
    finally:
        stop(process)
    log = start_up_log(wine).read_text(encoding="utf-8")
    assert log.rstrip().endswith("RuntimeError: pencere açılamadı: ĞÜŞ")
    assert "in main" in log
    assert "RuntimeError: pencere açılamadı: ĞÜŞ" in "\n".join(box)


def test_runtime_that_cannot_start_logs_its_own_reason(package, wine):
    (package.path / "python312.zip").unlink()  # the standard library
    process = package.start()
    try:
        assert read_box(wine, PACKAGE_TITLE) == ["#32770", PACKAGE_TITLE, RUNTIME_FAILURE]
        assert process.wait(timeout=60) == 1
    finally:
        stop(process)
    # The box stays short; the log says what the runtime reported: its function and message.
    log = start_up_log(wine).read_bytes().decode("utf-8")
    assert log == (f"{RUNTIME_FAILURE}\r\n"
                   "init_fs_encoding: failed to get the Python codec of the filesystem encoding\r\n")


# --- display scaling and language, as Windows users have them -----------------------------------

@pytest.fixture(scope="module", params=[(1366, 768), (1920, 1080)], ids=["1366x768", "1920x1080"])
def wine_desktop(request):
    """Wine on a display of that size under a window manager with a task bar's strip free."""
    base = pathlib.Path(tempfile.mkdtemp(prefix="wine-desktop-", dir=built(BUILD)))
    try:
        (base / "wine").mkdir()
        with x_desktop(base / "desktop", request.param) as display, wine_session(base / "wine", display) as wine:
            yield wine, request.param
    finally:
        shutil.rmtree(base, ignore_errors=True)


@pytest.mark.parametrize("log_pixels", [120, 144], ids=["125%", "150%"])
def test_window_fits_the_screen_at_the_display_scaling_users_have(wine_desktop, tmp_path, log_pixels):
    wine, screen = wine_desktop
    wine.set_display_scaling(log_pixels)
    package = PackageFolder(tmp_path.joinpath(*USER_FOLDER, LAUNCHER_NAME), wine)
    try:
        run = package.start_probed()
        try:
            window = run.window()
            frame, area = x_frame_of(wine.display, CENTRE_TITLE), x_work_area(wine.display)
        finally:
            assert run.release() == 0
            stop(run.process)
    finally:
        wine.set_display_scaling(96)
    assert_fits_its_screen(window, log_pixels / 96, frame, area)
    SHOTS.mkdir(parents=True, exist_ok=True)
    shutil.copy(package.scratch / "window.png", SHOTS / f"windows-{screen[0]}x{screen[1]}-{log_pixels}dpi.png")


def test_every_text_the_centre_shows_on_windows_is_turkish_and_true(package):
    # From a folder whose path has Turkish letters (Qt's own idea of its translations folder
    # would have lost them), in a prefix with no host fonts.  No script runs on Windows, so
    # neither "Tümünü Tek Tıkla Kur" nor "Kaldır" may claim an installation or a removal.
    run = package.start_probed(actions=[["launch_missing"], ["install_one", "z47-delmo"], ["install_all"],
                                        ["uninstall_one", "z47-delmo"]])
    try:
        wait_for_window(package.wine, DELMO_TITLE, run.process)  # "Kur ve Başlat" started the tool
        package.wine.probe("close", DELMO_TITLE)
        assert run.release() == 0
    finally:
        stop(run.process)
    missing = windows_path(package.path / "yok" / "app.py")
    assert [(kind, what if kind == "status" else (what["caption"], what["text"], what["buttons"], what["default"]))
            for kind, what in run.findings() if kind != "window"] == [
        ("box", ("Başlatma Hatası", f"Hata: Başlatılacak dosya bulunamadı: {missing}", ["Tamam"], "Tamam")),
        ("status", READY),  # the box says it
        ("status", f"▶ {DELMO_TITLE} başlatıldı."),
        ("box", ("Z47 Kurulum Merkezi", ALL_READY_BOX, ["Tamam"], "Tamam")),
        ("status", ALL_READY),
        ("box", ("Kaldırma Bilgisi", DELMO_TITLE + NOT_REMOVED_BOX_TAIL, ["Tamam"], "Tamam")),
        ("status", f"🛑 {DELMO_TITLE}{NOT_REMOVED_STATUS_TAIL}"),
    ]


@pytest.mark.parametrize("fonts_shipped", [True, False], ids=["as-shipped", "without-its-fonts"])
def test_window_is_drawn_in_roboto_on_a_stock_machine(package, fonts_shipped):
    # The prefix sees no font of this machine, as a stock Windows has none of them: Roboto can
    # only come from the package's own fonts folder, registered for the process alone.
    if not fonts_shipped:
        shutil.rmtree(package.path / "fonts")
    window = opened_window(package)
    assert (window["font"] == "Roboto") is fonts_shipped, window["font"]
    if fonts_shipped:
        SHOTS.mkdir(parents=True, exist_ok=True)
        shutil.copy(package.scratch / "window.png", SHOTS / "windows-stock-fonts.png")
