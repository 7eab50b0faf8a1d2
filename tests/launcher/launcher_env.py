"""What the launcher's tests share: folders laid out like a shipped centre around the built
Linux launcher, and the Windows launcher under wine (one prefix, one X server per run)."""
import contextlib
import json
import os
import pathlib
import shutil
import subprocess
import tempfile
import time

import pytest

from desktop import PROBE as WINDOW_PROBE, ProbedRun, probe_env
from helpers import PYTHON, ROOT, STAGE, built_module, changed

BUILD = ROOT / "build"
LAUNCHER_NAME = "Z47_Masaustu_Araclari_Tam_Paketi"
LAUNCHER = STAGE / LAUNCHER_NAME
FIRST_FRAME_HOOK = ROOT / "scripts" / "first_frame_hook.py"

PACKAGE_TITLE = "Z47 Masaüstü Araçları Tam Paketi"
CENTRE_TITLE = "Z47 Masaüstü Araçları 5'i 1 Arada Kurulum Merkezi"
RUNTIME_FAILURE = "Python 3.12 Runtime (python312.dll) baslatilamadi."

# A stand-in for the centre: writes what the start-up left behind, then ends as a case says.
STAND_IN_HEAD = '''\
import json, os, sys

def _report():
    with open(os.environ["Z47_TEST_REPORT"], "w", encoding="utf-8") as f:
        json.dump({
            "argv": sys.argv,
            "executable": sys.executable,
            "path": sys.path,
            "cwd": os.getcwd(),
            "PATH": os.environ.get("PATH"),
            "PYTHONPATH": os.environ.get("PYTHONPATH"),
            "QT_QPA_PLATFORM_PLUGIN_PATH": os.environ.get("QT_QPA_PLATFORM_PLUGIN_PATH"),
            "QT_PLUGIN_PATH": os.environ.get("QT_PLUGIN_PATH"),
            "stdout_errors": getattr(sys.stdout, "errors", None),
        }, f)

'''


def interpreter_start_failure(**env) -> str:
    """What the interpreter the launcher embeds says when it cannot start with `env`: the
    "function: message" of its fatal error, as the launcher logs it.  Each Python release
    words it its own way, so the expected text is taken from the interpreter under test."""
    result = subprocess.run([PYTHON, "-c", "pass"], env={**os.environ, **env},
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
    prefix = "Fatal Python error: "
    lines = [line for line in result.stderr.decode().splitlines() if line.startswith(prefix)]
    assert result.returncode != 0 and lines, result.stderr.decode(errors="replace")
    return lines[0][len(prefix):]


def built(path: pathlib.Path) -> pathlib.Path:
    assert path.exists(), f"{path} is missing: build first (make test, or cmake --build build)"
    return path


class LauncherFolder:
    """A folder laid out like a shipped centre, around the Linux launcher.

    The launcher finds its folder through /proc/self/exe, which resolves symbolic links but not
    hard links: the launcher is hard-linked (no test writes into it), and copied only where a
    link cannot be made (another file system).  The centre module may be a symbolic link (its
    own folder is resolved anyway).
    """

    def __init__(self, path: pathlib.Path, scratch: pathlib.Path):
        self.path = path
        self.path.mkdir(parents=True)
        self.launcher = self.path / LAUNCHER_NAME
        try:
            os.link(built(LAUNCHER), self.launcher)
        except OSError:
            shutil.copy2(LAUNCHER, self.launcher)
        self.scratch = scratch
        self.scratch.mkdir(parents=True, exist_ok=True)
        self.runtime_dir = scratch / "runtime"  # the per-user guard lives here
        self.runtime_dir.mkdir(mode=0o700, exist_ok=True)
        self.appdata = scratch / "appdata"
        self.report_file = scratch / "report.json"

    def stand_in(self, body: str):
        """Puts a stand-in module beside the launcher; `body` ends it as the case needs."""
        (self.path / "Z47_Kurulum_Merkezi.py").write_text(STAND_IN_HEAD + body, encoding="utf-8")

    def real_centre(self):
        """Puts the built centre module beside the launcher, with the first-frame hook."""
        module = built_module()
        (self.path / module.name).symlink_to(module)
        shutil.copy2(FIRST_FRAME_HOOK, self.path / "sitecustomize.py")

    def env(self, **changes) -> dict:
        env = {k: v for k, v in os.environ.items() if not k.startswith(("PYTHON", "Z47_"))}
        env.update(
            XDG_RUNTIME_DIR=str(self.runtime_dir),
            LOCALAPPDATA=str(self.appdata),
            QT_QPA_PLATFORM="offscreen",
            Z47_TEST_REPORT=str(self.report_file),
        )
        return changed(env, changes)

    def command(self, args) -> list:
        return [str(self.launcher), *args]

    def run(self, *args, env=None, cwd=None, timeout=60) -> subprocess.CompletedProcess:
        return subprocess.run(self.command(args), env=env or self.env(), cwd=cwd or self.scratch,
                              capture_output=True, timeout=timeout)

    def start(self, *args, env=None) -> subprocess.Popen:
        return subprocess.Popen(self.command(args), env=env or self.env(), cwd=self.scratch,
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def report(self) -> dict:
        return json.loads(self.report_file.read_text(encoding="utf-8"))



def wait_for_file(path: pathlib.Path, process: subprocess.Popen, timeout=30.0) -> str:
    """Waits until `path` holds text; fails early when the process ends first."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if path.exists() and path.stat().st_size > 0:
            return path.read_text(encoding="utf-8")
        if process.poll() is not None:
            out, err = process.communicate()
            pytest.fail(f"ended with {process.returncode} before {path.name}: {err.decode(errors='replace')}")
        time.sleep(0.05)
    pytest.fail(f"{path.name} did not appear within {timeout} s")


def stop(process: subprocess.Popen):
    """Ends a process a test started, if it is still running."""
    if process.poll() is None:
        process.kill()
        process.wait(timeout=10)


# --- Windows launcher under wine -------------------------------------------------------------

WINDOWS_BUILD = BUILD / "windows"
WINDOWS_LAUNCHER = WINDOWS_BUILD / f"{LAUNCHER_NAME}.exe"
RUNTIME_DOUBLE = WINDOWS_BUILD / "testing" / "python312.dll"
PROBE = WINDOWS_BUILD / "testing" / "z47_probe.exe"


def windows_path(path: pathlib.Path) -> str:
    """The path as Windows programs under wine see it (wine maps / to drive Z:)."""
    return "Z:" + str(path).replace("/", "\\")


class Wine:
    """One wine prefix and one X server for the whole run; programs run one at a time."""

    def __init__(self, base: pathlib.Path, display: str):
        self.base = base
        self.display = display
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(("WINE", "Z47_", "PYTHON", "QT_", "XDG_"))}
        home = base / "home"  # wine links its profile folders to $HOME: never the user's own
        # As a stock Windows machine, the prefix sees wine's own fonts and none of this
        # machine's: a fontconfig setup without font folders.  (A prefix keeps the fonts it has
        # once seen in its registry, so this holds from its creation.)
        fonts_conf = base / "fonts.conf"
        fonts_conf.write_text('<?xml version="1.0"?>\n<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">\n'
                              f"<fontconfig><cachedir>{base / 'fontconfig-cache'}</cachedir></fontconfig>\n",
                              encoding="utf-8")
        self.env.update(
            FONTCONFIG_FILE=str(fonts_conf),
            DISPLAY=display,
            HOME=str(home),
            XDG_CONFIG_HOME=str(home / ".config"),
            XDG_DATA_HOME=str(home / ".local" / "share"),
            XDG_CACHE_HOME=str(home / ".cache"),
            # Without /run/user/<uid> (no login session), wine 8's server keeps its socket
            # folder below TMPDIR and never removes it; wine 10's needs that folder (see
            # server_folder).
            TMPDIR=str(base),
            WINEPREFIX=str(base / "prefix"),
            WINEDEBUG="-all",
            # No Mono or Gecko installer prompts, and no menu entries or file associations
            # written for the programs the tests run.
            WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d",
            # Wine reads the command line and environment in this encoding; its ANSI code page
            # is then 1252, which has no "Ğ" or "ş", as on a Western Windows.
            LANG="C.UTF-8",
        )

    def command_env(self, changes: dict) -> dict:
        env = dict(self.env)
        env.update(changes)
        return env

    def run(self, program, *args, cwd, env=None, timeout=60) -> subprocess.CompletedProcess:
        # Output goes through files, not pipes: wine's own helper processes (explorer,
        # services) outlive the program and would hold a pipe open.
        command = ["wine", str(program), *args]
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            process = subprocess.Popen(command, cwd=cwd, env=self.command_env(env or {}),
                                       stdin=subprocess.DEVNULL, stdout=out, stderr=err)
            try:
                code = process.wait(timeout=timeout)
            finally:
                stop(process)
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(command, code, out.read(), err.read())

    def start(self, program, *args, cwd, env=None, stdout=subprocess.DEVNULL) -> subprocess.Popen:
        # The real runtime does not start when a standard handle is a regular file under
        # wine: its handles are /dev/null, or a pipe where a test reads them.
        return subprocess.Popen(["wine", str(program), *args], cwd=cwd, env=self.command_env(env or {}),
                                stdin=subprocess.DEVNULL, stdout=stdout, stderr=subprocess.DEVNULL)

    def local_appdata(self) -> pathlib.Path:
        """Where LOCALAPPDATA points for Windows programs: wine sets it to the prefix's own
        profile folder, whatever the environment says."""
        users = pathlib.Path(self.env["WINEPREFIX"]) / "drive_c" / "users"
        return next(users.glob("*/AppData/Local"))

    def probe(self, *args, timeout=30) -> subprocess.CompletedProcess:
        result = self.run(built(PROBE), *args, cwd=PROBE.parent, timeout=timeout)
        result.text = result.stdout.decode("utf-8")
        return result

    def start_server(self):
        """Starts a persistent server for the prefix: later starts take a tenth of a second."""
        # Its error output goes through a file: the server it leaves running would hold a pipe.
        with tempfile.TemporaryFile() as err:
            code = subprocess.run(["wineserver", "-p"], env=self.env, timeout=120, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=err).returncode
            err.seek(0)
            said = err.read().decode(errors="replace").strip().splitlines()[-1:]
        if code != 0:
            raise WineUnavailable(
                f"wineserver did not start ({(said or [f'exit status {code}'])[0]}): wine 10 needs {RUN_USER}, "
                "which a login session provides (as root the tests make it): run the tests in a login "
                "session or as root")

    def set_display_scaling(self, log_pixels: int):
        """Windows' display scaling (96 is 100 %, 144 is 150 %), as its settings set it; the
        server is ended so that the next program starts with it."""
        subprocess.run(["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t", "REG_DWORD",
                        "/d", str(log_pixels), "/f"], env=self.env, check=True, timeout=120,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=self.env, timeout=60, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def server_folder(self) -> pathlib.Path:
        """Where a server below the per-user runtime folder keeps its socket for this prefix."""
        prefix = pathlib.Path(self.env["WINEPREFIX"]).stat()
        return RUN_USER / "wine" / f"server-{prefix.st_dev:x}-{prefix.st_ino:x}"


# Wine 10 keeps its server's socket below the login session's runtime folder, whatever
# XDG_RUNTIME_DIR says; without that folder (chroots, containers, CI) its server aborts.
RUN_USER = pathlib.Path("/run/user") / str(os.getuid())


class WineUnavailable(RuntimeError):
    """Wine cannot run on this machine as it is; the message says why in one line."""


def make_run_user_folder() -> list:
    """Makes /run/user/<uid> where it is missing and the tests run as root, as a login would
    (the uid's own folder private); returns the folders made, to be removed again."""
    if RUN_USER.exists() or os.getuid() != 0:
        return []
    made = [folder for folder in (RUN_USER.parent, RUN_USER) if not folder.exists()]
    RUN_USER.parent.mkdir(mode=0o755, exist_ok=True)
    RUN_USER.mkdir(mode=0o700)
    return made


@contextlib.contextmanager
def wine_session(base: pathlib.Path, display=None, make=None):
    """A new wine prefix below `base`, with its server running, on `display` or else on an X
    server of its own, for the time of the block; afterwards nothing of them is left, `base`
    included.  `make(base, display)` makes the session's Wine (Wine itself by default)."""
    for tool in ("wine", "wineserver", "Xvfb"):
        assert shutil.which(tool), f"{tool} is missing: scripts/install-deps.sh installs it"
    made = make_run_user_folder()
    xvfb, display = start_xvfb() if display is None else (None, display)
    session = (make or Wine)(base, display)
    try:
        (base / "prefix").mkdir()
        session.start_server()
        subprocess.run(["wine", "wineboot", "--init"], env=session.env, check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300)
        yield session
    finally:
        # -k alone leaves the server (and a launcher's mutex) alive for a moment: wait for it.
        for flag in ("-k", "-w"):
            subprocess.run(["wineserver", flag], env=session.env, timeout=60, stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if xvfb is not None:
            xvfb.terminate()
            xvfb.wait(timeout=30)
        shutil.rmtree(session.server_folder(), ignore_errors=True)
        for folder in reversed(made):
            shutil.rmtree(folder, ignore_errors=True)
        shutil.rmtree(base, ignore_errors=True)


def start_xvfb() -> tuple:
    """Starts Xvfb on a free display; returns the process and the display name."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1600x1000x24", "-nolisten", "tcp"],
        pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    with os.fdopen(read_end) as reader:
        number = reader.readline().strip()
    assert number, "Xvfb did not start"
    return xvfb, f":{number}"



class WindowsFolder:
    """A folder with the Windows launcher and the test double of python312.dll beside it."""

    def __init__(self, path: pathlib.Path, wine: Wine):
        self.path = path
        self.path.mkdir(parents=True)
        self.wine = wine
        self.launcher = self.path / WINDOWS_LAUNCHER.name
        shutil.copy2(built(WINDOWS_LAUNCHER), self.launcher)
        shutil.copy2(built(RUNTIME_DOUBLE), self.path / RUNTIME_DOUBLE.name)
        self.records = 0

    def steering(self, record: pathlib.Path, **double) -> dict:
        env = {"Z47_DOUBLE_RECORD": windows_path(record)}
        env.update({f"Z47_DOUBLE_{key.upper()}": value for key, value in double.items()})
        return env

    def record_file(self) -> pathlib.Path:
        self.records += 1
        return self.path.parent / f"calls-{self.records}.txt"

    def run(self, *args, env=None, **double) -> tuple:
        """Runs the launcher to its end; returns its result and the runtime calls it made."""
        record = self.record_file()
        result = self.wine.run(self.launcher, *args, cwd=self.path.parent,
                               env={**self.steering(record, **double), **(env or {})})
        return result, read_calls(record)

    def start(self, *args, **double) -> tuple:
        record = self.record_file()
        process = self.wine.start(self.launcher, *args, cwd=self.path.parent,
                                  env=self.steering(record, **double))
        return process, record


def windows_launcher_missing():
    """Why the Windows launcher is not built (no mingw-w64 after `make run` alone), or None."""
    if WINDOWS_LAUNCHER.exists():
        return None
    parts = WINDOWS_PARTS.read_text(encoding="utf-8").splitlines() if WINDOWS_PARTS.exists() else []
    return parts[1] if len(parts) > 1 else f"{WINDOWS_LAUNCHER} is not built"


def read_calls(record: pathlib.Path) -> list:
    return record.read_text(encoding="utf-8").splitlines() if record.exists() else []


# --- the Windows package under wine, with the real runtime and the real PyQt5 ----------------

PACKAGE = BUILD / "dist" / "windows" / LAUNCHER_NAME
WINDOWS_PARTS = BUILD / "windows-parts.txt"
MODULE_PYD = "Z47_Kurulum_Merkezi.cp312-win_amd64.pyd"
START_UP_ERROR_CAPTION = PACKAGE_TITLE + " - Baslatma Hatasi"


def windows_parts_missing():
    """The build's one line on missing Windows parts, or None when it found them."""
    if not WINDOWS_PARTS.exists():
        return "the build has not looked for the Windows parts: build first (make test)"
    state, _, line = WINDOWS_PARTS.read_text(encoding="utf-8").partition("\n")
    return None if state == "found" else line.strip()


def link_tree(source: pathlib.Path, target: pathlib.Path):
    """A copy of the package that costs no disk: files are hard links (tests only add and
    remove files in it, never write into one), copies where links cannot be made."""
    def link_or_copy(src, dst):
        try:
            os.link(src, dst)
        except OSError:
            shutil.copy2(src, dst)
    shutil.copytree(source, target, copy_function=link_or_copy)


class PackageFolder:
    """The Windows package as a user unzipped it into `path`, run under wine."""

    def __init__(self, path: pathlib.Path, wine: Wine):
        self.path = path
        self.wine = wine
        self.path.parent.mkdir(parents=True, exist_ok=True)
        link_tree(built(PACKAGE), self.path)
        self.launcher = self.path / f"{LAUNCHER_NAME}.exe"
        self.scratch = self.path.parent
        self.report_file = self.scratch / "report.json"

    def stand_in(self, body: str):
        """Replaces the centre by a stand-in module; `body` ends it as the case needs."""
        (self.path / MODULE_PYD).unlink()
        (self.path / "Z47_Kurulum_Merkezi.py").write_text(STAND_IN_HEAD + body, encoding="utf-8")

    def env(self, **changes) -> dict:
        return {"Z47_TEST_REPORT": windows_path(self.report_file), **changes}

    def probed(self, actions=()) -> dict:
        """Loads the window probe (tests/support/probe) into the package's runtime at start-up;
        returns the environment that steers it, with its report in scratch/probe.jsonl."""
        pth = self.path / "python312._pth"
        text = pth.read_bytes()
        pth.unlink()  # a hard link to the built package: replaced, never written into
        pth.write_bytes(text.rstrip(b"\r\n") + b"\r\nimport site\r\n")
        shutil.copyfile(WINDOW_PROBE / "sitecustomize.py", self.path / "sitecustomize.py")
        return self.env(**probe_env(self.scratch / "probe.jsonl", self.scratch / "window.png", self.scratch / "hold",
                                    actions, path=windows_path))

    def start_probed(self, actions=()) -> ProbedRun:
        """Starts the package with the probe: its findings, and the window open until released."""
        return ProbedRun(self.start(env=self.probed(actions)), self.scratch)

    def start(self, *args, env=None, stdout=subprocess.DEVNULL) -> subprocess.Popen:
        return self.wine.start(self.launcher, *args, cwd=self.scratch, env=env or self.env(), stdout=stdout)

    def run(self, *args, env=None, timeout=120) -> int:
        process = self.start(*args, env=env)
        try:
            return process.wait(timeout=timeout)
        finally:
            stop(process)

    def report(self) -> dict:
        return json.loads(self.report_file.read_text(encoding="utf-8"))


def start_up_log(wine: Wine) -> pathlib.Path:
    return wine.local_appdata() / "Tevrix" / "startup_error.log"


def x_window_of(display: str, title_start: str) -> str:
    """The X id of the top-level window whose title starts with `title_start`."""
    tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", display], capture_output=True,
                          check=True).stdout.decode("utf-8", "replace")
    for line in tree.splitlines():
        parts = line.strip().split(" ", 1)
        if len(parts) == 2 and parts[1].startswith('"' + title_start):
            return parts[0]
    raise AssertionError(f"no X window titled {title_start!r}")


def x_window_lines(display: str) -> list:
    tree = subprocess.run(["xwininfo", "-root", "-tree", "-display", display], capture_output=True,
                          check=True).stdout.decode("utf-8", "replace")
    return tree.splitlines()


GRAB = """
import sys
from PyQt5.QtWidgets import QApplication
app = QApplication(["grab", "-platform", "xcb"])
ok = app.primaryScreen().grabWindow(int(sys.argv[1], 16)).save(sys.argv[2], "PNG")
sys.exit(0 if ok else 1)
"""


def screenshot(display: str, title_start: str, target: pathlib.Path) -> pathlib.Path:
    """What the screen shows of one window, as a person sees it, saved as PNG."""
    target.parent.mkdir(parents=True, exist_ok=True)
    env = {k: v for k, v in os.environ.items() if not k.startswith("QT_")}
    env["DISPLAY"] = display
    subprocess.run([PYTHON, "-c", GRAB, x_window_of(display, title_start), str(target)],
                   env=env, check=True, timeout=60)
    return target


# --- the setup program under wine -------------------------------------------------------------

WINE_FONTS = pathlib.Path("/usr/share/wine/fonts")  # fonts-wine: Tahoma and the other stock fonts


class UserWine(Wine):
    """A Wine whose account has the given login name, and whose fontconfig setup shows wine's
    own fonts and no others: a dialog of the stock Windows controls (the setup's pages) is laid
    out in "MS Shell Dlg", which wine finds through fontconfig, and is 1x1 pixels without it."""

    def __init__(self, base: pathlib.Path, display: str, user: str):
        super().__init__(base, display)
        self.env.update(USER=user, LOGNAME=user)
        pathlib.Path(self.env["FONTCONFIG_FILE"]).write_text(
            '<?xml version="1.0"?>\n<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">\n'
            f"<fontconfig><dir>{WINE_FONTS}</dir><cachedir>{base / 'fontconfig-cache'}</cachedir></fontconfig>\n",
            encoding="utf-8")


def user_wine_session(user: str, base: pathlib.Path, display=None):
    """As wine_session, for a Windows user of this name: wine names the account and its profile
    folder (C:\\users\\<name>) after the login name in USER and LOGNAME when it makes the
    prefix, and every program of the session runs with them."""
    return wine_session(base, display, make=lambda base, display: UserWine(base, display, user))
