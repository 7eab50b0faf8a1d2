"""The Windows setup program as the build makes it, run under wine for a user whose name has
Turkish letters and a space: silent installs for the user, for all users and into a chosen
folder, and their uninstallers; the installed centre; an upgrade over an older version; the
centre holding off the setup and the uninstaller; and the first page as a person sees it."""
import filecmp
import hashlib
import pathlib
import re
import shutil
import struct
import subprocess
import sys
import tempfile

import pytest

from desktop import wait_for
from launcher_env import (BUILD, CENTRE_TITLE, LAUNCHER_NAME, PACKAGE, PACKAGE_TITLE, ROOT, WineUnavailable,
                          built, link_tree, screenshot, stop, windows_parts_missing, windows_path, user_wine_session,
                          x_window_lines)


def setup_missing():
    """Why the setup program is not built here, or None."""
    if windows_parts_missing() is not None:
        return windows_parts_missing()
    if shutil.which("makensis") is None:
        return "makensis missing: the Windows setup program is not built; make test installs nsis"
    return None


pytestmark = [pytest.mark.skipif(setup_missing() is not None, reason=str(setup_missing())), pytest.mark.slow]

VERSION = "2.0.0"
SETUP = BUILD / "dist" / "windows" / f"{LAUNCHER_NAME}-{VERSION}-setup.exe"
SHOTS = BUILD / "screenshots"
USER = "Ayşe Yılmaz"
PROFILE = rf"C:\users\{USER}"
UNINSTALL_KEY = rf"Software\Microsoft\Windows\CurrentVersion\Uninstall\{LAUNCHER_NAME}"
USER_START_MENU = rf"{PROFILE}\AppData\Roaming\Microsoft\Windows\Start Menu\Programs"
COMMON_START_MENU = r"C:\ProgramData\Microsoft\Windows\Start Menu\Programs"
SHORTCUT = f"{PACKAGE_TITLE}.lnk"
SETUP_CAPTION = f"{PACKAGE_TITLE} Kurulumu"
CENTRE_RUNNING = 3  # the setup's and the uninstaller's exit code while the centre runs

# How the setup is asked to install: its switches, the folder, the registry root and Start menu.
MODES = {
    "current-user": ([], rf"{PROFILE}\AppData\Local\Programs\{LAUNCHER_NAME}", "HKCU", USER_START_MENU),
    "all-users": (["/AllUsers"], rf"C:\Program Files\{LAUNCHER_NAME}", "HKLM", COMMON_START_MENU),
    "chosen-folder": ([r"/D=C:\Kurulum Ğüş\Z47 Paketi"], r"C:\Kurulum Ğüş\Z47 Paketi", "HKCU", USER_START_MENU),
}
DEFAULT_FOLDER = MODES["current-user"][1]


def raw(argument: str) -> list:
    """NSIS reads /D= and _?= as the rest of its command line, unquoted; wine quotes an
    argument that has a space, so the words go as separate arguments, joined by one space."""
    return argument.split(" ")


class Machine:
    """The prefix as the setup sees it: Windows paths, the setup's runs, the registry."""

    def __init__(self, wine):
        self.wine = wine
        self.base = pathlib.Path(wine.env["WINEPREFIX"]).parent
        self.drive_c = pathlib.Path(wine.env["WINEPREFIX"]) / "drive_c"

    def path(self, windows: str) -> pathlib.Path:
        assert windows[:3].upper() == "C:\\", windows
        return self.drive_c.joinpath(*windows[3:].split("\\"))

    def setup(self, *args, program=SETUP) -> int:
        return self.wine.run(built(program), "/S", *args, cwd=self.base, timeout=300).returncode

    def uninstall(self, folder: str) -> int:
        """Runs the installed uninstaller silently to its end, as it runs itself: from a copy
        outside the folder, told the folder with _?= (given alone, it starts such a copy and
        returns at once)."""
        copy = self.base / "uninstaller" / "uninstall.exe"
        copy.parent.mkdir(exist_ok=True)
        shutil.copyfile(self.path(folder) / "uninstall.exe", copy)
        try:
            return self.wine.run(copy, "/S", *raw(f"_?={folder}"), cwd=self.base, timeout=300).returncode
        finally:
            copy.unlink()

    def reg(self, *args) -> subprocess.CompletedProcess:
        return subprocess.run(["wine", "reg", *args], env=self.wine.env, stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=120)

    def uninstall_entry(self, root: str):
        """The values of the setup's uninstall entry under HKCU or HKLM, or None."""
        export = self.base / "entry.reg"
        export.unlink(missing_ok=True)
        if self.reg("export", rf"{root}\{UNINSTALL_KEY}", windows_path(export), "/y").returncode != 0:
            return None
        return parse_reg_export(export.read_text(encoding="utf-16"))

    def clean(self):
        """Removes whatever a case left: installations, entries, shortcuts."""
        for _, folder, root, start_menu in MODES.values():
            shutil.rmtree(self.path(folder), ignore_errors=True)
            (self.path(start_menu) / SHORTCUT).unlink(missing_ok=True)
            self.reg("delete", rf"{root}\{UNINSTALL_KEY}", "/f")
        shutil.rmtree(self.path(r"C:\Kurulum Ğüş"), ignore_errors=True)
        (self.path(rf"{PROFILE}\Desktop") / SHORTCUT).unlink(missing_ok=True)
        shutil.rmtree(self.path(rf"{PROFILE}\AppData\Local\Tevrix"), ignore_errors=True)


def parse_reg_export(text: str) -> dict:
    values = {}
    for line in text.splitlines():
        if not line.startswith('"'):
            continue
        name, _, value = line.partition('"=')
        name = name[1:]
        if value.startswith("dword:"):
            values[name] = int(value[6:], 16)
        else:
            assert value.startswith('"') and value.endswith('"'), line
            values[name] = value[1:-1].replace('\\"', '"').replace("\\\\", "\\")
    return values


def read_shell_link(data: bytes) -> dict:
    """Where a .lnk points, its working folder and its icon.  The target is read from the link's
    ID list, as the shell resolves it: the drive, then each folder's and the file's long
    (Unicode) name, the UTF-16 text that ends each item before the offset word that closes it.
    (Wine writes the LinkInfo's path in the ANSI code page only, which has no "ş" or "ı".)"""
    assert data[:4] == b"L\0\0\0", "not a shell link"
    flags, = struct.unpack_from("<I", data, 0x14)
    assert flags & 0x1, "the link has no ID list"
    pos = 0x4C
    size, = struct.unpack_from("<H", data, pos)
    id_list, pos = data[pos + 2:pos + 2 + size], pos + 2 + size
    parts, item = [], 0
    while True:
        length, = struct.unpack_from("<H", id_list, item)
        if length == 0:
            break
        entry, item = id_list[item:item + length], item + length
        kind = entry[2]
        if kind & 0x70 == 0x20:  # a drive: "C:\\"
            parts.append(entry[3:entry.index(b"\0", 3)].decode("ascii").rstrip("\\"))
        elif kind & 0x70 == 0x30:  # a folder or a file
            end = len(entry) - 2
            assert entry[end - 2:end] == b"\0\0", "no long name"
            start = end - 2
            while entry[start - 2:start] != b"\0\0":
                start -= 2
            parts.append(entry[start:end - 2].decode("utf-16-le"))
    link = {"target": "\\".join(parts)}
    if flags & 0x2:  # LinkInfo
        size, = struct.unpack_from("<I", data, pos)
        pos += size
    for bit, name in ((0x4, "description"), (0x8, "relative_path"), (0x10, "working_dir"), (0x20, "arguments"),
                      (0x40, "icon")):
        if flags & bit:
            count, = struct.unpack_from("<H", data, pos)
            pos += 2
            length = 2 * count if flags & 0x80 else count
            link[name] = data[pos:pos + length].decode("utf-16-le" if flags & 0x80 else "cp1252").rstrip("\0")
            pos += length
    return link


def files_of(folder: pathlib.Path) -> set:
    return {p.relative_to(folder).as_posix() for p in folder.rglob("*") if p.is_file()}


def snapshot(folder: pathlib.Path) -> dict:
    return {p.relative_to(folder).as_posix(): (p.stat().st_mtime_ns, hashlib.sha256(p.read_bytes()).hexdigest())
            for p in folder.rglob("*") if p.is_file()}


@pytest.fixture(scope="module")
def machine():
    base = pathlib.Path(tempfile.mkdtemp(prefix="wine-setup-", dir=built(BUILD)))
    unavailable = None
    try:
        with user_wine_session(USER, base) as session:
            yield Machine(session)
    except WineUnavailable as reason:
        unavailable = str(reason)
    if unavailable:
        pytest.fail(unavailable, pytrace=False)


@pytest.fixture
def clean(machine):
    machine.clean()
    yield machine
    machine.clean()


# --- install and uninstall ---------------------------------------------------------------------

@pytest.mark.parametrize("mode", MODES)
def test_silent_install_then_uninstall_leaves_only_what_is_not_the_setups(clean, mode):
    machine = clean
    args, folder, root, start_menu = MODES[mode]
    # What the centre writes at start-up, beside what the setup installs.
    log = machine.path(rf"{PROFILE}\AppData\Local\Tevrix") / "startup_error.log"
    log.parent.mkdir(parents=True)
    log.write_text("önceki bir başlatmanın kaydı\n", encoding="utf-8")

    assert machine.setup(*(raw(args[0]) if args else [])) == 0

    installed = machine.path(folder)
    package = built(PACKAGE)
    assert files_of(installed) == files_of(package) | {"uninstall.exe"}
    mismatched = filecmp.cmpfiles(package, installed, sorted(files_of(package)), shallow=False)[1:]
    assert mismatched == ([], [])

    launcher = rf"{folder}\{LAUNCHER_NAME}.exe"
    link = read_shell_link((machine.path(start_menu) / SHORTCUT).read_bytes())
    assert (link["target"], link["working_dir"], link["icon"]) == (launcher, folder, launcher)
    assert not (machine.path(rf"{PROFILE}\Desktop") / SHORTCUT).exists()  # only when asked for

    entry = machine.uninstall_entry(root)
    size_kb = entry.pop("EstimatedSize")
    assert entry == {
        "DisplayName": PACKAGE_TITLE,
        "DisplayVersion": VERSION,
        "Publisher": "Z47 Yazılım Ekibi",
        "DisplayIcon": launcher,
        "InstallLocation": folder,
        "UninstallString": rf'"{folder}\uninstall.exe"',
        "QuietUninstallString": rf'"{folder}\uninstall.exe" /S',
        "NoModify": 1,
        "NoRepair": 1,
    }
    total = sum(p.stat().st_size for p in installed.rglob("*") if p.is_file())
    assert total / 1024 <= size_kb <= total / 1024 + 2
    assert machine.uninstall_entry("HKLM" if root == "HKCU" else "HKCU") is None

    # The caches Python writes beside the package's modules go with them; a file of the user's
    # own keeps its folder.
    cache = installed / "Lib" / "site-packages" / "PyQt5" / "__pycache__" / "__init__.cpython-312.pyc"
    cache.parent.mkdir()
    cache.write_bytes(b"\x00" * 16)
    own = installed / "notlarım.txt" if mode == "chosen-folder" else None
    if own:
        own.write_text("benim\n", encoding="utf-8")

    assert machine.uninstall(folder) == 0

    if own:
        assert files_of(installed) == {own.name} and [p.name for p in installed.iterdir()] == [own.name]
    else:
        assert not installed.exists()
    assert not (machine.path(start_menu) / SHORTCUT).exists()
    assert machine.uninstall_entry(root) is None
    assert log.read_text(encoding="utf-8") == "önceki bir başlatmanın kaydı\n"


# --- upgrade -----------------------------------------------------------------------------------

def make_older_setup(tmp_path) -> pathlib.Path:
    """A setup of version 1.9.0 made by the same script from an older package: without PyQt5's
    folder (which keeps it quick to compress), with a different licence text and with files the
    current package does not have."""
    package = tmp_path / "older" / LAUNCHER_NAME
    link_tree(built(PACKAGE), package)
    shutil.rmtree(package / "Lib")
    (package / "LICENSE.txt").unlink()
    (package / "LICENSE.txt").write_text("eski lisans\n", encoding="utf-8")
    (package / "z47-delmo" / "eski_sürüm.txt").write_text("yalnızca 1.9.0'da\n", encoding="utf-8")
    (package / "eski-araç").mkdir()
    (package / "eski-araç" / "app.py").write_text("print('eski')\n", encoding="utf-8")
    result = subprocess.run(
        [sys.executable, str(ROOT / "scripts" / "make_windows_setup.py"), "--package", str(package),
         "--version", "1.9.0", "--icon", str(built(BUILD / "windows" / "launcher" / "icon" / "z47_centre.ico")),
         "--work", str(tmp_path / "older-work"), "--dest", str(tmp_path / "older-dist")],
        capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    return tmp_path / "older-dist" / f"{LAUNCHER_NAME}-1.9.0-setup.exe"


def test_upgrade_replaces_the_older_version_and_keeps_the_users_files(clean, tmp_path):
    machine = clean
    older = make_older_setup(tmp_path)
    assert machine.setup(program=older) == 0
    installed = machine.path(DEFAULT_FOLDER)
    assert (installed / "z47-delmo" / "eski_sürüm.txt").exists()
    assert machine.uninstall_entry("HKCU")["DisplayVersion"] == "1.9.0"
    own = {"notlarım.txt": "benim notlarım\n", "z47-delmo/ayarlarım.ini": "[ayar]\n"}
    for name, text in own.items():
        (installed / name).write_text(text, encoding="utf-8")

    assert machine.setup() == 0

    assert files_of(installed) == files_of(built(PACKAGE)) | {"uninstall.exe"} | set(own)
    assert (installed / "LICENSE.txt").read_bytes() == (PACKAGE / "LICENSE.txt").read_bytes()
    assert not (installed / "eski-araç").exists()
    for name, text in own.items():
        assert (installed / name).read_text(encoding="utf-8") == text
    assert machine.uninstall_entry("HKCU")["DisplayVersion"] == VERSION

    # The same version again is an upgrade too: the files stay the package's.
    assert machine.setup() == 0
    assert files_of(installed) == files_of(built(PACKAGE)) | {"uninstall.exe"} | set(own)


# --- the installed centre ------------------------------------------------------------------------

def test_installed_centre_opens_once_and_holds_off_setup_and_uninstaller(clean):
    machine, wine = clean, clean.wine
    assert machine.setup() == 0
    installed = machine.path(DEFAULT_FOLDER)
    launcher = installed / f"{LAUNCHER_NAME}.exe"
    # Started as its Start-menu shortcut starts it: in the installed folder.
    centre = wine.start(launcher, cwd=installed)
    try:
        assert wine.probe("find", CENTRE_TITLE, "120000", timeout=150).returncode == 0, "the centre did not open"
        second = wine.start(launcher, cwd=installed)
        try:
            assert second.wait(timeout=120) == 0
        finally:
            stop(second)

        before = snapshot(installed)
        entry = machine.uninstall_entry("HKCU")
        assert machine.setup() == CENTRE_RUNNING
        assert machine.uninstall(DEFAULT_FOLDER) == CENTRE_RUNNING
        assert snapshot(installed) == before
        assert machine.uninstall_entry("HKCU") == entry
        assert (machine.path(USER_START_MENU) / SHORTCUT).exists()

        assert wine.probe("close", CENTRE_TITLE).returncode == 0
        assert centre.wait(timeout=60) == 0
    finally:
        stop(centre)
    # Once the centre is closed, the same setup goes through.
    assert machine.setup() == 0


# --- what a person sees ----------------------------------------------------------------------------

def x_size(display: str, title_start: str):
    """The size of the top-level X window whose title starts so, or None while there is none."""
    for line in x_window_lines(display):
        name, _, rest = line.strip().partition(" ")[2].partition('": ')
        if name.startswith('"' + title_start):
            width, height = re.search(r"\)\s+(\d+)x(\d+)", rest).groups()
            return int(width), int(height)
    return None


def colours(path: pathlib.Path) -> int:
    from PyQt5.QtGui import QImage
    image = QImage(str(path))
    return len({image.pixel(x, y) for x in range(image.width()) for y in range(image.height())})


def test_first_page_is_turkish(clean):
    wine = clean.wine
    process = wine.start(built(SETUP), cwd=clean.base)
    try:
        found = wine.probe("find", SETUP_CAPTION, "120000", timeout=150)
        assert found.returncode == 0, f"no window {SETUP_CAPTION!r} appeared"
        # Wine makes the X window at 1x1 and then gives it the dialog's size; a window not yet
        # drawn is one or two colours, the drawn page (picture, text, buttons) some thirty.
        wait_for(lambda: (x_size(wine.display, SETUP_CAPTION) or (0, 0)) > (400, 300), "the setup window's sizing", 60)
        shot = SHOTS / "windows-setup.png"
        wait_for(lambda: colours(screenshot(wine.display, SETUP_CAPTION, shot)) > 10, "the first page drawn", 60)
    finally:
        stop(process)  # on its first page the setup has changed nothing
    assert not clean.path(DEFAULT_FOLDER).exists()
