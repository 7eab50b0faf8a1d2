"""The Debian package of the Linux centre (cmake/Z47DebianPackage.cmake): what it holds, that
lintian and desktop-file-validate find it clean, that the centre starts from it the way its
start command starts it, and, where Z47_TEST_SYSTEM_INSTALL=1 on a machine the tests may change
(as root), that apt installs it and a purge leaves nothing of it behind.

The package is made afresh by cpack from the built tree into a temporary folder, so the tests
neither need nor touch the build/z47-kurulum-merkezi_*.deb of `make deb`."""
import configparser
import gzip
import json
import os
import pathlib
import re
import shutil
import struct
import subprocess

import pytest

from helpers import PYTHON, ROOT, STAGE, folder_every_user_reaches
from vocabulary import FOLDERS

PACKAGE = "z47-kurulum-merkezi"
APP_DIR = f"/opt/{PACKAGE}"
START_COMMAND = f"/usr/bin/{PACKAGE}"
MODULE = "Z47_Kurulum_Merkezi"
BUILD = ROOT / "build"
TOOL_FILES = ["app.py", "kur.sh", "kaldir.sh", "assets/icon_512.png"]
ICON_SIZES = [16, 22, 24, 32, 48, 64, 128, 256]
NOBODY = 65534
CENTRE_SVG = ROOT / "launcher" / "resources" / "z47_centre.svg"

# lintian's informational tags that the package is known to draw, and why they stay:
KNOWN_LINTIAN_INFO = {
    # The compiler's version string; CMake's strip of the module keeps that section.
    "binary-has-unneeded-section",
    # The module is compiled with _FORTIFY_SOURCE=2, but none of its calls has a size the
    # compiler knows (they come from libstdc++'s strings and vectors), so no checked variant
    # is ever linked and lintian cannot tell.
    "hardening-no-fortify-functions",
}

# Loaded by Python before the start command runs (as sitecustomize, first on PYTHONPATH): the
# centre's window shows, what the centre found is written down, the window closes, and the
# event loop ends with the code the test chose.
CLOSING_HOOK = """
import json, os, sys
from PyQt5.QtCore import QTimer
from PyQt5.QtWidgets import QApplication

_loop = QApplication.exec_


def _exec(app):
    centre = sys.modules["Z47_Kurulum_Merkezi"]
    seen = {
        "module": centre.__file__,
        "base": str(centre.BASE_Z47_DIR),
        "run_cmds": {p["folder"]: [str(part) for part in p["run_cmd"]] for p in centre.PROGRAMS},
        "windows": [type(w).__name__ for w in app.topLevelWidgets() if w.isVisible()],
    }
    with open(os.environ["Z47_TEST_SEEN"], "w", encoding="utf-8") as out:
        json.dump(seen, out)
    QTimer.singleShot(0, app.closeAllWindows)
    _loop()
    return int(os.environ["Z47_TEST_EXIT_CODE"])


QApplication.exec_ = _exec
"""


def need(program: str, package: str) -> str:
    path = shutil.which(program)
    if path is None:
        pytest.fail(f"{program} is not installed: apt-get install {package}")
    return path


def private_env(tmp_path: pathlib.Path, **extra) -> dict:
    """The environment with a home, XDG folders and a TMPDIR of the test's own (lintian leaves
    files in TMPDIR)."""
    home = tmp_path / "home"
    temp = tmp_path / "tmp"
    temp.mkdir(exist_ok=True)
    env = dict(os.environ, HOME=str(home), XDG_CONFIG_HOME=str(home / ".config"),
               XDG_DATA_HOME=str(home / ".local/share"), XDG_CACHE_HOME=str(home / ".cache"),
               TMPDIR=str(temp), QT_QPA_PLATFORM="offscreen", PYTHONDONTWRITEBYTECODE="1")
    env.update(extra)
    return env


def run(args, **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run([str(a) for a in args], capture_output=True, text=True, **kwargs)


def start_centre(command: pathlib.Path, tmp_path: pathlib.Path, exit_code: int = 0, as_nobody=False):
    """Runs a start command with the closing hook; returns (the process, what the centre saw).
    `as_nobody` runs it as the user nobody, whose folder `tmp_path` then becomes."""
    hook = tmp_path / "hook"
    hook.mkdir()
    (hook / "sitecustomize.py").write_text(CLOSING_HOOK, encoding="utf-8")
    seen = tmp_path / "seen.json"
    runtime = tmp_path / "runtime"  # Qt's runtime folder must belong to the user
    runtime.mkdir(mode=0o700)
    env = private_env(tmp_path, PYTHONPATH=str(hook), Z47_TEST_SEEN=str(seen),
                      Z47_TEST_EXIT_CODE=str(exit_code), XDG_RUNTIME_DIR=str(runtime))
    user = {}
    if as_nobody:
        for path in (tmp_path, *tmp_path.rglob("*")):
            os.chown(path, NOBODY, NOBODY)
        user = dict(user=NOBODY, group=NOBODY, extra_groups=[], cwd="/")
    done = run([command], timeout=120, env=env, **user)
    assert seen.exists(), done.stderr
    return done, json.loads(seen.read_text(encoding="utf-8"))


def expected_run_cmds(base: str) -> dict:
    return {folder: [PYTHON, f"{base}/{folder}/app.py"] for folder in FOLDERS}


def module_name() -> str:
    [module] = STAGE.glob(f"{MODULE}.*.so")
    return module.name


def control_fields(deb: pathlib.Path) -> dict:
    done = run(["dpkg-deb", "-f", deb])
    assert done.returncode == 0, done.stderr
    fields, key = {}, None
    for line in done.stdout.splitlines():
        if line.startswith((" ", "\t")):
            fields[key] += "\n" + line
        else:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return fields


def relations(field: str) -> list:
    """A Depends-style field as a list of (name, operator, version), operator and version
    empty where no version is given; a field with alternatives fails the test."""
    parsed = []
    for item in field.split(","):
        assert "|" not in item, field
        m = re.fullmatch(r"\s*([a-z0-9][a-z0-9+.-]+)\s*(?:\((<<|<=|=|>=|>>)\s*(\S+)\))?\s*", item)
        assert m, item
        parsed.append((m.group(1), m.group(2) or "", m.group(3) or ""))
    return parsed


def satisfies(version: str, operator: str, bound: str) -> bool:
    names = {"<<": "lt", "<=": "le", "=": "eq", ">=": "ge", ">>": "gt"}
    return run(["dpkg", "--compare-versions", version, names[operator], bound]).returncode == 0


def package_entries(deb: pathlib.Path) -> list:
    """(mode, owner, path) of every entry of the package's data, path without the leading '.'."""
    done = run(["dpkg-deb", "-c", deb])
    assert done.returncode == 0, done.stderr
    entries = []
    for line in done.stdout.splitlines():
        mode, owner, _size, _date, _time, path = line.split(None, 5)
        entries.append((mode, owner, path[1:]))
    return entries


def installed(package: str) -> bool:
    done = run(["dpkg-query", "-W", "-f", "${db:Status-Status}", package])
    return done.returncode == 0 and done.stdout == "installed"


@pytest.fixture(scope="module")
def deb(tmp_path_factory) -> pathlib.Path:
    config = BUILD / "CPackConfig.cmake"
    assert config.exists(), "the build is not configured: make build"
    need("dpkg-shlibdeps", "dpkg-dev")
    out = tmp_path_factory.mktemp("deb")
    done = run(["cpack", "--config", config, "-B", out], cwd=out, env=private_env(out), timeout=600)
    assert done.returncode == 0, done.stdout + done.stderr
    [package] = out.glob("*.deb")
    return package


@pytest.fixture(scope="module")
def unpacked(deb, tmp_path_factory) -> pathlib.Path:
    root = tmp_path_factory.mktemp("root")
    done = run(["dpkg-deb", "-x", deb, root])
    assert done.returncode == 0, done.stderr
    return root.resolve()


# ---- Debian's checkers ------------------------------------------------------------------------

def test_lintian_finds_no_errors_or_warnings(deb, tmp_path):
    lintian = need("lintian", "lintian")
    done = run([lintian, "--display-info", "--fail-on", "error,warning", deb],
               env=private_env(tmp_path), timeout=600)
    tags = [line for line in done.stdout.splitlines() if re.match(r"[EWI]: ", line)]
    assert done.returncode == 0, done.stdout + done.stderr
    assert not [t for t in tags if not t.startswith("I: ")], tags
    info = {t.split()[2] for t in tags if t.startswith("I: ")}
    assert info <= KNOWN_LINTIAN_INFO, f"explain or fix: {sorted(info - KNOWN_LINTIAN_INFO)}"


def test_desktop_entry_is_valid_and_opens_the_start_command_with_the_centres_icon(unpacked):
    validate = need("desktop-file-validate", "desktop-file-utils")
    path = unpacked / f"usr/share/applications/{PACKAGE}.desktop"
    done = run([validate, path])
    assert (done.returncode, done.stdout + done.stderr) == (0, "")

    parser = configparser.ConfigParser(interpolation=None)
    parser.optionxform = str
    parser.read(path, encoding="utf-8")
    entry = parser["Desktop Entry"]
    assert entry["Type"] == "Application"
    assert entry["Name"] == "Z47 Kurulum Merkezi"
    assert set(entry["Comment"]) & set("çğıöşüÇĞİÖŞÜ"), entry["Comment"]
    assert entry["Terminal"] == "false"
    assert entry["Categories"]

    assert entry["Exec"] == PACKAGE
    assert (unpacked / START_COMMAND.lstrip("/")).stat().st_mode & 0o111

    icon = entry["Icon"]
    assert "/" not in icon and "." not in icon, "the icon is named for the theme, not by a path"
    hicolor = unpacked / "usr/share/icons/hicolor"
    for size in ICON_SIZES:
        png = (hicolor / f"{size}x{size}/apps/{icon}.png").read_bytes()
        assert png[:8] == b"\x89PNG\r\n\x1a\n" and png[12:16] == b"IHDR"
        assert struct.unpack(">II", png[16:24]) == (size, size)
    assert (hicolor / f"scalable/apps/{icon}.svg").read_bytes() == CENTRE_SVG.read_bytes()


# ---- what the package holds ---------------------------------------------------------------------

def test_opt_folder_holds_the_module_and_the_staged_tool_folders(unpacked):
    app_dir = unpacked / APP_DIR.lstrip("/")
    shipped = {p.relative_to(app_dir).as_posix() for p in app_dir.rglob("*") if not p.is_dir()}
    tool_files = {f"{folder}/{name}" for folder in FOLDERS for name in TOOL_FILES}
    assert shipped == tool_files | {module_name()}
    for name in sorted(tool_files):
        assert (app_dir / name).read_bytes() == (STAGE / name).read_bytes(), name


def test_every_entry_is_root_owned_and_executable_exactly_when_it_is_a_script(deb, unpacked):
    wrong = []
    for mode, owner, path in package_entries(deb):
        if mode.startswith("d"):
            expected = "drwxr-xr-x"
        elif (unpacked / path.lstrip("/")).read_bytes()[:2] == b"#!":
            expected = "-rwxr-xr-x"
        else:
            expected = "-rw-r--r--"
        if (mode, owner) != (expected, "root/root"):
            wrong.append((path, mode, owner, expected))
    assert not wrong


def test_start_command_runs_debians_python3_on_the_module_in_opt(unpacked):
    text = (unpacked / START_COMMAND.lstrip("/")).read_text(encoding="utf-8")
    assert text.startswith(f"#!{PYTHON}\n")
    assert f'"{APP_DIR}"' in text


@pytest.mark.parametrize("exit_code", [0, 3])
def test_centre_started_from_the_unpacked_package_finds_its_tools_beside_itself(unpacked, tmp_path, exit_code):
    # The start command as shipped, with its folder moved to where the package was unpacked.
    text = (unpacked / START_COMMAND.lstrip("/")).read_text(encoding="utf-8")
    base = str(unpacked / APP_DIR.lstrip("/"))
    command = tmp_path / PACKAGE
    command.write_text(text.replace(APP_DIR, base), encoding="utf-8")
    command.chmod(0o755)

    done, seen = start_centre(command, tmp_path, exit_code)
    assert done.returncode == exit_code, done.stderr
    assert seen["windows"] == ["Z47InstallerCenter"]
    assert seen["base"] == base
    assert seen["module"] == f"{base}/{module_name()}"
    assert seen["run_cmds"] == expected_run_cmds(base)
    assert all(pathlib.Path(cmd[1]).is_file() for cmd in seen["run_cmds"].values())


# ---- control fields -----------------------------------------------------------------------------

def test_control_fields_name_the_project_version_and_what_the_centre_needs(deb, unpacked):
    fields = control_fields(deb)
    version = re.search(r"project\(z47_centre VERSION (\S+)", (ROOT / "CMakeLists.txt").read_text()).group(1)
    arch = run(["dpkg", "--print-architecture"]).stdout.strip()
    assert (fields["Package"], fields["Version"], fields["Architecture"]) == (PACKAGE, version, arch)
    assert deb.name == f"{PACKAGE}_{version}_{arch}.deb"

    with gzip.open(unpacked / f"usr/share/doc/{PACKAGE}/changelog.gz", "rt", encoding="utf-8") as changelog:
        assert changelog.readline().startswith(f"{PACKAGE} ({version}) ")

    depends = relations(fields["Depends"])
    names = {name for name, _, _ in depends}
    assert {"python3-pyqt5", "qttranslations5-l10n", "bash"} <= names

    # The shared libraries the module links, each by the package that has it.
    needed = re.findall(r"NEEDED\s+(\S+)", run(["objdump", "-p", STAGE / module_name()]).stdout)
    library_packages = {"libc.so.6": "libc6", "libm.so.6": "libc6", "libstdc++.so.6": "libstdc++6",
                        "libgcc_s.so.1": "libgcc-s1"}
    assert needed and set(needed) <= set(library_packages), needed
    assert {library_packages[lib] for lib in needed} <= names

    assert [name for name, _, _ in relations(fields["Recommends"])] == ["fonts-roboto", "fonts-noto-color-emoji"]


def test_python3_dependency_admits_exactly_the_python_the_module_is_built_for(deb):
    major, minor = re.search(r"\.cpython-(\d)(\d+)-", module_name()).groups()
    bounds = [(op, v) for name, op, v in relations(control_fields(deb)["Depends"]) if name == "python3"]
    assert bounds and all(bounds), "python3 is wanted with versions"
    cases = [
        (f"{major}.{minor}.0-1", True),
        (f"{major}.{minor}.2-1+b1", True),
        (f"{major}.{minor}~rc1-1", True),
        (f"{major}.{int(minor) - 1}.9-1", False),
        (f"{major}.{int(minor) + 1}.0-1", False),
        (f"{major}.{int(minor) + 1}~rc1-1", False),
    ]
    admitted = [(v, all(satisfies(v, op, bound) for op, bound in bounds)) for v, _ in cases]
    assert admitted == cases
    installed_python = run(["dpkg-query", "-W", "-f", "${Version}", "python3"]).stdout
    assert all(satisfies(installed_python, op, bound) for op, bound in bounds)


# ---- installing it for real ---------------------------------------------------------------------

@pytest.mark.slow
@pytest.mark.skipif(os.environ.get("Z47_TEST_SYSTEM_INSTALL") != "1",
                    reason="installs the package on this machine with apt: set Z47_TEST_SYSTEM_INSTALL=1 (as root) to run it")
def test_apt_installs_the_package_and_a_purge_leaves_nothing_of_it(deb, tmp_path):
    if os.geteuid() != 0 or shutil.which("apt-get") is None:
        pytest.skip("Z47_TEST_SYSTEM_INSTALL=1 needs root and apt-get")
    if installed(PACKAGE):
        pytest.skip(f"{PACKAGE} is installed on this machine already; the test would remove it")
    entries = package_entries(deb)
    apt_env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    try:
        done = run(["apt-get", "install", "-y", f"./{deb.name}"], cwd=deb.parent, env=apt_env, timeout=600)
        assert done.returncode == 0, done.stdout + done.stderr
        assert installed(PACKAGE)

        # From the menu entry's command, as root and as a user who may write nothing of the
        # package's.
        for as_nobody in (False, True):
            with folder_every_user_reaches("z47-deb-") as user_folder:
                done, seen = start_centre(pathlib.Path(START_COMMAND), user_folder, as_nobody=as_nobody)
            assert done.returncode == 0, done.stderr
            assert seen["base"] == APP_DIR
            assert seen["run_cmds"] == expected_run_cmds(APP_DIR)
            assert seen["windows"] == ["Z47InstallerCenter"]
    finally:
        purge = run(["apt-get", "purge", "-y", PACKAGE], env=apt_env, timeout=600)
    assert purge.returncode == 0, purge.stdout + purge.stderr

    assert run(["dpkg-query", "-W", PACKAGE]).returncode != 0, "dpkg still knows the package"
    own = [path for mode, _, path in entries
           if not mode.startswith("d") or PACKAGE in path]
    assert own and not [path for path in own if os.path.lexists(path)]
    assert not list(pathlib.Path("/usr/share/icons/hicolor").glob(f"*/apps/{PACKAGE}.*"))
