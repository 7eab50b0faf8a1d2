"""The fetch script that lays out the Windows SDK folder, run as the build and developers run
it, against a local HTTP server that plays python.org and PyPI's file host with small fake
archives.  Each test supplies its own manifest pinning those fake archives."""
import base64
import hashlib
import http.server
import io
import json
import os
import pathlib
import shutil
import socket
import stat
import subprocess
import sys
import tarfile
import threading
import zipfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[1]
SCRIPT = ROOT / "scripts" / "fetch_windows_sdk.py"
REAL_MANIFEST = ROOT / "cmake" / "windows-sdk" / "manifest.json"

RUNTIME = "python-3.12.4-embed-amd64"
QT = "pyqt5-5.15.11-win_amd64"
HEADERS = "cpython-3.12.1-include"

# What the fake upstream serves: per SDK folder, its archives with their members.  Members
# that the manifest does not pin (libcrypto-3.dll, QtBluetooth.pyd, README.rst, ...) stand for
# the parts of the real archives the centre does not ship.
UPSTREAM = {
    RUNTIME: [{
        "file": "python-3.12.4-embed-amd64.zip", "source": "python-org",
        "path": "3.12.4/python-3.12.4-embed-amd64.zip", "format": "zip",
        "content": {
            "python312.dll": b"MZ runtime",
            "python312._pth": b"python312.zip\n.\n",
            "LICENSE.txt": b"runtime licence\n",
            "libcrypto-3.dll": b"MZ not pinned",
        },
        "unpinned": ["libcrypto-3.dll"],
    }],
    QT: [{
        "file": "PyQt5-5.15.11-cp38-abi3-win_amd64.whl", "source": "pypi-files",
        "path": "cp38/P/PyQt5/PyQt5-5.15.11-cp38-abi3-win_amd64.whl", "format": "zip",
        "record": "PyQt5-5.15.11.dist-info/RECORD",
        "content": {
            "PyQt5/__init__.py": b"# PyQt5\n",
            "PyQt5/QtCore.pyd": b"MZ QtCore",
            "PyQt5/QtBluetooth.pyd": b"MZ not needed",
            "PyQt5-5.15.11.dist-info/METADATA": b"Name: PyQt5\n",
            "PyQt5-5.15.11.dist-info/RECORD": b"the wheel's own record\n",
        },
        "unpinned": ["PyQt5/QtBluetooth.pyd", "PyQt5-5.15.11.dist-info/RECORD"],
    }, {
        "file": "PyQt5_Qt5-5.15.2-py3-none-win_amd64.whl", "source": "pypi-files",
        "path": "py3/P/PyQt5-Qt5/PyQt5_Qt5-5.15.2-py3-none-win_amd64.whl", "format": "zip",
        "record": "PyQt5_Qt5-5.15.2.dist-info/RECORD",
        "content": {
            "PyQt5/Qt5/bin/Qt5Core.dll": b"MZ Qt5Core",
            "PyQt5_Qt5-5.15.2.dist-info/METADATA": b"Name: PyQt5-Qt5\n",
        },
        "unpinned": [],
    }, {
        "file": "PyQt5_sip-12.16.1-cp312-cp312-win_amd64.whl", "source": "pypi-files",
        "path": "cp312/P/PyQt5-sip/PyQt5_sip-12.16.1-cp312-cp312-win_amd64.whl", "format": "zip",
        "record": "PyQt5_sip-12.16.1.dist-info/RECORD",
        "content": {
            "PyQt5/sip.cp312-win_amd64.pyd": b"MZ sip",
            "PyQt5_sip-12.16.1.dist-info/METADATA": b"Name: PyQt5-sip\n",
        },
        "unpinned": [],
    }],
    HEADERS: [{
        "file": "Python-3.12.1.tar.xz", "source": "python-org",
        "path": "3.12.1/Python-3.12.1.tar.xz", "format": "tar.xz",
        "members": {"Python-3.12.1/Include/": "", "Python-3.12.1/LICENSE": "LICENSE.txt"},
        "content": {
            "Python-3.12.1/Include/Python.h": b"#include \"pyconfig.h\"\n",
            "Python-3.12.1/Include/cpython/object.h": b"/* object */\n",
            "Python-3.12.1/Include/internal/pycore_gc.h": b"/* gc */\n",
            "Python-3.12.1/LICENSE": b"PSF licence\n",
            "Python-3.12.1/README.rst": b"not needed\n",
            "Python-3.12.1/PC/pyconfig.h": b"/* the build supplies its own */\n",
        },
        "unpinned": ["Python-3.12.1/README.rst", "Python-3.12.1/PC/pyconfig.h"],
    }],
}


def sha256(data):
    return hashlib.sha256(data).hexdigest()


def folder_path(arc, member):
    for prefix, target in arc.get("members", {"": ""}).items():
        if member == prefix:
            return target
        if (prefix == "" or prefix.endswith("/")) and member.startswith(prefix):
            return target + member[len(prefix):]
    return None


def pinned_files(arc):
    """Folder path -> content of what the fetch lays out from one archive."""
    return {folder_path(arc, name): data for name, data in arc["content"].items()
            if name not in arc["unpinned"]}


def build_archive(arc, content=None):
    content = arc["content"] if content is None else content
    buffer = io.BytesIO()
    if arc["format"] == "zip":
        with zipfile.ZipFile(buffer, "w") as bundle:
            for name, data in content.items():
                bundle.writestr(zipfile.ZipInfo(name, date_time=(2024, 6, 6, 0, 0, 0)), data)
    else:
        with tarfile.open(fileobj=buffer, mode="w:xz") as bundle:
            for name, data in content.items():
                info = tarfile.TarInfo(name)
                info.size = len(data)
                bundle.addfile(info, io.BytesIO(data))
    return buffer.getvalue()


def all_archives():
    return [(folder, arc) for folder, archives in UPSTREAM.items() for arc in archives]


def upstream_archive(file):
    return next(arc for _, arc in all_archives() if arc["file"] == file)


class Upstream:
    """A local server with the fake archives, the manifest that pins them, and a runner."""

    def __init__(self, tmp_path):
        self.tmp = tmp_path
        self.blobs = {}
        self.requests = []
        for _, arc in all_archives():
            self.serve(arc["file"], build_archive(arc))
        upstream = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                upstream.requests.append(self.path)
                data = upstream.blobs.get(self.path)
                if data is None:
                    self.send_error(404, "Not Found")
                    return
                self.send_response(200)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def log_message(self, *args):
                pass

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.thread = threading.Thread(target=self.server.serve_forever, args=(0.05,), daemon=True)
        self.thread.start()
        base = f"http://127.0.0.1:{self.server.server_address[1]}"
        self.python_org = base + "/python"
        self.pypi_files = base + "/packages"

    def url_path(self, file):
        arc = upstream_archive(file)
        return ("/python/" if arc["source"] == "python-org" else "/packages/") + arc["path"]

    def serve(self, file, data):
        self.blobs[self.url_path(file)] = data

    def manifest(self, name="manifest.json", pin_archives=True, archive_pins=None, file_pins=None):
        """Writes a manifest pinning the fake archives as first served.  `archive_pins`
        overrides an archive's pin (None: unpinned); `file_pins` overrides a file's pin."""
        archive_pins = archive_pins or {}
        file_pins = file_pins or {}
        folders = []
        for folder, sources in UPSTREAM.items():
            entries = []
            for arc in sources:
                entry = {key: arc[key] for key in ("file", "source", "path", "format")}
                entry["sha256"] = sha256(build_archive(arc)) if pin_archives else None
                entry["sha256"] = archive_pins.get(arc["file"], entry["sha256"])
                if "members" in arc:
                    entry["members"] = arc["members"]
                if "record" in arc:
                    entry["record"] = arc["record"]
                entry["files"] = {path: file_pins.get(path, sha256(data))
                                  for path, data in pinned_files(arc).items()}
                entries.append(entry)
            folders.append({"name": folder, "archives": entries})
        path = self.tmp / name
        path.write_text(json.dumps({"folders": folders}, indent=1), encoding="utf-8")
        return path

    def run(self, *args, manifest=None, dest=None, python_org=None):
        manifest = manifest or self.manifest()
        command = [sys.executable, str(SCRIPT), "--manifest", str(manifest)]
        if "--check" not in args:
            command += [
                "--dest", str(dest or self.tmp / "sdk"),
                "--cache", str(self.tmp / "cache"),
                "--python-org", python_org or self.python_org,
                "--pypi-files", self.pypi_files,
            ]
        env = dict(os.environ, HOME=str(self.tmp / "home"), XDG_CACHE_HOME=str(self.tmp / "xdg"))
        return subprocess.run(command + list(args), capture_output=True, text=True, env=env,
                              timeout=60)

    def close(self):
        self.server.shutdown()
        self.server.server_close()
        self.thread.join()


@pytest.fixture
def upstream(tmp_path):
    server = Upstream(tmp_path)
    yield server
    server.close()


def expected_layout():
    """SDK folder -> set of files the fetch must leave there."""
    layout = {}
    for folder, archives in UPSTREAM.items():
        files = set()
        for arc in archives:
            files |= set(pinned_files(arc))
            if "record" in arc:
                files.add(arc["record"])
        layout[folder] = files
    return layout


def files_under(path):
    return {p.relative_to(path).as_posix() for p in path.rglob("*") if p.is_file()}


def assert_nothing_landed(dest):
    assert not dest.exists() or not any(dest.iterdir()), sorted(files_under(dest))


def assert_one_clear_error(result, *fragments):
    assert result.returncode == 1, result.stdout + result.stderr
    lines = result.stderr.strip().splitlines()
    assert len(lines) == 1 and lines[0].startswith("z47: "), result.stderr
    for fragment in fragments:
        assert fragment in lines[0], result.stderr


# --- a good fetch ------------------------------------------------------------------------


def test_fetch_lays_out_only_pinned_files_with_lists_sha256sum_accepts(upstream, tmp_path):
    result = upstream.run()
    assert result.returncode == 0, result.stderr

    sdk = tmp_path / "sdk"
    layout = expected_layout()
    assert {p.name for p in sdk.iterdir()} == set(layout) | {f + ".sha256" for f in layout}
    for folder, files in layout.items():
        assert files_under(sdk / folder) == files
        for arc in UPSTREAM[folder]:
            for path, data in pinned_files(arc).items():
                assert (sdk / folder / path).read_bytes() == data
        # The list describes the folder in sha256sum's own format.
        check = subprocess.run(["sha256sum", "--strict", "-c", f"../{folder}.sha256"],
                               cwd=sdk / folder, capture_output=True, text=True)
        assert check.returncode == 0, check.stdout + check.stderr
        listed = [line.split("  ", 1)[1] for line in (sdk / f"{folder}.sha256").read_text().splitlines()]
        assert sorted(listed) == sorted(files)
    assert "libcrypto-3.dll" in result.stdout  # named as left out, not silently dropped


def test_each_wheel_gets_a_record_of_exactly_what_was_laid_out(upstream, tmp_path):
    assert upstream.run().returncode == 0
    site = tmp_path / "sdk" / QT
    for arc in UPSTREAM[QT]:
        rows = (site / arc["record"]).read_text().splitlines()
        expected = []
        for path, data in sorted(pinned_files(arc).items()):
            digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
            expected.append(f"{path},sha256={digest},{len(data)}")
        assert rows == expected + [f"{arc['record']},,"]


@pytest.mark.parametrize("same_dest", [True, False], ids=["same-dest", "new-dest"])
def test_second_run_needs_no_download(upstream, tmp_path, same_dest):
    assert upstream.run().returncode == 0
    upstream.requests.clear()
    dest = tmp_path / ("sdk" if same_dest else "sdk2")

    result = upstream.run(dest=dest)

    assert result.returncode == 0, result.stderr
    assert upstream.requests == []
    assert upstream.run("--check", str(dest)).returncode == 0


# --- refusals ----------------------------------------------------------------------------


def test_tampered_download_is_refused_and_not_cached(upstream, tmp_path):
    manifest = upstream.manifest()
    arc = upstream_archive("Python-3.12.1.tar.xz")
    tampered = dict(arc["content"], **{"Python-3.12.1/Include/Python.h": b"#error tampered\n"})
    upstream.serve(arc["file"], build_archive(arc, tampered))

    result = upstream.run(manifest=manifest)

    assert_one_clear_error(result, "SHA-256 mismatch for Python-3.12.1.tar.xz",
                           sha256(build_archive(arc)), sha256(build_archive(arc, tampered)))
    assert_nothing_landed(tmp_path / "sdk")
    assert not any(p.name.startswith("Python-3.12.1") for p in (tmp_path / "cache").iterdir())


@pytest.mark.parametrize("fault, archive_pin", [
    ("changed member", "absent"),
    ("changed member", "matching the tampered archive"),
    ("missing member", "absent"),
])
def test_tampered_file_inside_archive_is_refused(upstream, tmp_path, fault, archive_pin):
    arc = upstream_archive("PyQt5-5.15.11-cp38-abi3-win_amd64.whl")
    content = dict(arc["content"])
    if fault == "changed member":
        content["PyQt5/QtCore.pyd"] = b"MZ tampered"
    else:
        del content["PyQt5/QtCore.pyd"]
    tampered = build_archive(arc, content)
    pin = None if archive_pin == "absent" else sha256(tampered)
    manifest = upstream.manifest(archive_pins={arc["file"]: pin})
    upstream.serve(arc["file"], tampered)

    result = upstream.run(manifest=manifest)

    if fault == "changed member":
        assert_one_clear_error(result, f"SHA-256 mismatch for {QT}/PyQt5/QtCore.pyd",
                               sha256(b"MZ QtCore"), sha256(b"MZ tampered"))
    else:
        assert_one_clear_error(result, arc["file"], "PyQt5/QtCore.pyd")
    assert_nothing_landed(tmp_path / "sdk")
    if pin is None:  # nothing vouches for it: it must not be reused
        assert not (tmp_path / "cache" / arc["file"]).exists()


def test_member_outside_the_folder_is_never_written(upstream, tmp_path):
    arc = upstream_archive("PyQt5_sip-12.16.1-cp312-cp312-win_amd64.whl")
    data = build_archive(arc, dict(arc["content"], **{"../../escaped.txt": b"x"}))
    upstream.serve(arc["file"], data)

    result = upstream.run(manifest=upstream.manifest(archive_pins={arc["file"]: sha256(data)}))

    assert result.returncode == 0, result.stderr
    assert not list(tmp_path.rglob("escaped.txt"))


def zip_with_symlink(name, target):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as bundle:
        info = zipfile.ZipInfo(name, date_time=(2024, 6, 6, 0, 0, 0))
        info.external_attr = (stat.S_IFLNK | 0o777) << 16
        bundle.writestr(info, target)
    return buffer.getvalue()


def tar_with_symlink(name, target):
    buffer = io.BytesIO()
    with tarfile.open(fileobj=buffer, mode="w:xz") as bundle:
        link = tarfile.TarInfo(name)
        link.type, link.linkname = tarfile.SYMTYPE, target
        bundle.addfile(link)
    return buffer.getvalue()


@pytest.mark.parametrize("file, data", [
    ("Python-3.12.1.tar.xz", tar_with_symlink("Python-3.12.1/Include/Python.h", "/etc/passwd")),
    ("PyQt5_sip-12.16.1-cp312-cp312-win_amd64.whl",
     zip_with_symlink("PyQt5/sip.cp312-win_amd64.pyd", "/etc/passwd")),
], ids=["tar", "zip"])
def test_symlink_in_place_of_a_pinned_file_is_refused(upstream, tmp_path, file, data):
    upstream.serve(file, data)

    result = upstream.run(manifest=upstream.manifest(archive_pins={file: None}))

    assert_one_clear_error(result, file, "is not a regular file")
    assert_nothing_landed(tmp_path / "sdk")


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


@pytest.mark.parametrize("outage", ["HTTP 404", "connection refused"])
def test_unreachable_source_fails_with_clear_error(upstream, tmp_path, outage):
    if outage == "HTTP 404":
        del upstream.blobs[upstream.url_path("Python-3.12.1.tar.xz")]
        result = upstream.run()
        assert_one_clear_error(result, "download failed: ", "/python/3.12.1/Python-3.12.1.tar.xz", "404")
    else:
        result = upstream.run(python_org=f"http://127.0.0.1:{free_port()}/python")
        assert_one_clear_error(result, "download failed: http://127.0.0.1:", "refused")
    assert_nothing_landed(tmp_path / "sdk")


def test_failed_update_leaves_the_previous_sdk_in_place(upstream, tmp_path):
    """A newer manifest whose headers verify but whose wheel does not must not leave a mix:
    the SDK stays exactly the one the old manifest describes."""
    old = upstream.manifest("old.json")
    assert upstream.run(manifest=old).returncode == 0

    headers = upstream_archive("Python-3.12.1.tar.xz")
    newer = dict(headers["content"], **{"Python-3.12.1/Include/Python.h": b"/* newer */\n"})
    upstream.serve(headers["file"], build_archive(headers, newer))
    wheel = upstream_archive("PyQt5-5.15.11-cp38-abi3-win_amd64.whl")
    upstream.serve(wheel["file"], build_archive(wheel, dict(wheel["content"], **{"PyQt5/__init__.py": b"evil"})))
    new = upstream.manifest("new.json", pin_archives=False, file_pins={
        "Python.h": sha256(b"/* newer */\n"), "PyQt5/__init__.py": sha256(b"# PyQt5 newer\n")})

    result = upstream.run(manifest=new)

    assert result.returncode == 1
    assert "PyQt5/__init__.py" in result.stderr
    check = upstream.run("--check", str(tmp_path / "sdk"), manifest=old)
    assert check.returncode == 0, check.stderr
    assert not [p for p in (tmp_path / "sdk").iterdir() if p.name.startswith(".")]


# --- the cache ---------------------------------------------------------------------------


@pytest.mark.parametrize("file, corrupt", [
    ("Python-3.12.1.tar.xz", "truncated"),
    ("PyQt5_Qt5-5.15.2-py3-none-win_amd64.whl", "other valid archive"),
])
@pytest.mark.parametrize("pinned", [True, False], ids=["archive-pinned", "archive-unpinned"])
def test_corrupted_cached_archive_is_downloaded_again(upstream, tmp_path, file, corrupt, pinned):
    manifest = upstream.manifest(pin_archives=pinned)
    assert upstream.run(manifest=manifest).returncode == 0
    cached = tmp_path / "cache" / file
    good = cached.read_bytes()
    if corrupt == "truncated":
        cached.write_bytes(good[: len(good) // 2])
    else:
        arc = upstream_archive(file)
        cached.write_bytes(build_archive(arc, {name: b"stale " + data for name, data in arc["content"].items()}))
    upstream.requests.clear()

    result = upstream.run(manifest=manifest, dest=tmp_path / "sdk2")

    assert result.returncode == 0, result.stderr
    assert upstream.requests == [upstream.url_path(file)]
    assert cached.read_bytes() == good
    assert upstream.run("--check", str(tmp_path / "sdk2"), manifest=manifest).returncode == 0


# --- --check -----------------------------------------------------------------------------


EDITED = b"/* edited */\n"


def edit_file(sdk):
    (sdk / HEADERS / "Python.h").write_bytes(EDITED)
    return "SHA-256 mismatch for cpython-3.12.1-include/Python.h"


def edit_file_and_its_list(sdk):
    """Someone 'fixes' the list after editing: the pins still catch it."""
    edit_file(sdk)
    lst = sdk / f"{HEADERS}.sha256"
    lines = [f"{sha256(EDITED)}  Python.h" if line.endswith("  Python.h") else line
             for line in lst.read_text().splitlines()]
    lst.write_text("\n".join(lines) + "\n")
    return "gives Python.h as"


def delete_file(sdk):
    (sdk / QT / "PyQt5" / "Qt5" / "bin" / "Qt5Core.dll").unlink()
    return f"{QT}/PyQt5/Qt5/bin/Qt5Core.dll: missing"


def add_file(sdk):
    (sdk / HEADERS / "pyconfig.h").write_text("/* stray */\n")
    return f"{HEADERS}/pyconfig.h: not part of the SDK"


def edit_record(sdk):
    record = sdk / QT / "PyQt5_sip-12.16.1.dist-info" / "RECORD"
    record.write_text(record.read_text() + "PyQt5/extra.pyd,,\n")
    return "SHA-256 mismatch for pyqt5-5.15.11-win_amd64/PyQt5_sip-12.16.1.dist-info/RECORD"


def remove_folder(sdk):
    shutil.rmtree(sdk / RUNTIME)
    return f"{RUNTIME}: folder missing"


def remove_list(sdk):
    (sdk / f"{QT}.sha256").unlink()
    return f"{QT}.sha256: list missing"


@pytest.mark.parametrize("damage", [edit_file, edit_file_and_its_list, delete_file, add_file,
                                    edit_record, remove_folder, remove_list])
def test_check_names_what_differs_from_the_pins(upstream, tmp_path, damage):
    manifest = upstream.manifest()
    assert upstream.run(manifest=manifest).returncode == 0
    sdk = tmp_path / "sdk"
    good = upstream.run("--check", str(sdk), manifest=manifest)
    assert good.returncode == 0, good.stderr

    expected = damage(sdk)
    result = upstream.run("--check", str(sdk), manifest=manifest)

    assert result.returncode == 1
    assert expected in result.stderr
    assert all(line.startswith("z47: ") for line in result.stderr.splitlines())


def test_fetch_repairs_a_damaged_sdk_from_the_cache(upstream, tmp_path):
    manifest = upstream.manifest()
    assert upstream.run(manifest=manifest).returncode == 0
    sdk = tmp_path / "sdk"
    edit_file(sdk)
    add_file(sdk)
    upstream.requests.clear()

    result = upstream.run(manifest=manifest)

    assert result.returncode == 0, result.stderr
    assert upstream.requests == []
    assert upstream.run("--check", str(sdk), manifest=manifest).returncode == 0


# --- the committed manifest ----------------------------------------------------------------


def test_committed_manifest_pins_the_layout_the_build_reads(tmp_path):
    # The script accepts it: checking an empty folder names each of the three folders.
    result = subprocess.run([sys.executable, str(SCRIPT), "--check", str(tmp_path)],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode == 1
    assert sorted(line.split("/")[-1] for line in result.stderr.splitlines()[:-1]) == \
        sorted(f"{name}: folder missing" for name in (RUNTIME, QT, HEADERS))

    manifest = json.loads(REAL_MANIFEST.read_text())
    folders = {f["name"]: f["archives"] for f in manifest["folders"]}
    assert set(folders) == {RUNTIME, QT, HEADERS}
    files = {name: {p for a in archives for p in a["files"]} for name, archives in folders.items()}
    assert len(files[RUNTIME]) == 34 and {"python312.dll", "python312.zip", "python.exe"} <= files[RUNTIME]
    assert "pyconfig.h" not in files[HEADERS] and {"Python.h", "cpython/object.h", "LICENSE.txt"} <= files[HEADERS]
    # Qt5Core.dll is pinned to the wheel's own RECORD digest, not to a recovered copy.
    qt5 = next(a for a in folders[QT] if a["file"].startswith("PyQt5_Qt5-"))
    assert qt5["files"]["PyQt5/Qt5/bin/Qt5Core.dll"] == \
        "8d2ff4ce9096ddccc4f4cd62c2e41fc854cfd1b0d6e8d296645a7f5fd4ae565a"
    assert {a["sha256"] for a in folders[HEADERS]} == \
        {"8dfb8f426fcd226657f9e2bd5f1e96e53264965176fa17d32658e873591aeb21"}
