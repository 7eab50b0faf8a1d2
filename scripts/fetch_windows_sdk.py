#!/usr/bin/env python3
"""Lays out the Windows SDK folder: the third-party Windows parts that the Windows package of
the centre is built and tested with, downloaded from their official sources and verified.

    fetch_windows_sdk.py [--dest DIR] [--cache DIR] [--python-org URL] [--pypi-files URL]
                         [--manifest FILE]
    fetch_windows_sdk.py --check DIR [--manifest FILE]

The manifest (cmake/windows-sdk/manifest.json) names, for every folder of the SDK, the
archives it is made from and the SHA-256 of each file taken from them; where the official
digest of an archive is known it is pinned too.  Archives are kept in the cache between runs.
A download goes to a temporary name in the cache and only becomes the cached copy once it
matches its pin; the folders are laid out in a staging folder inside DEST and only moved into
place once every file of every folder has matched its pin.  Beside each folder the script
writes FOLDER.sha256, a list that `sha256sum -c` accepts from inside the folder.

--check DIR verifies an SDK folder without touching the network: every folder and list
present, every listed file present and matching, nothing unlisted, and the lists agreeing
with the manifest.

Exit status: 0 when everything verified, 1 on any failure (one line per problem on stderr,
each starting with "z47: "), 2 on bad usage.  Only the Python standard library is used.
"""
import argparse
import base64
import csv
import hashlib
import http.client
import io
import json
import lzma
import os
import re
import shutil
import sys
import tarfile
import tempfile
import urllib.error
import urllib.parse
import urllib.request
import zipfile
import zlib
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
DEFAULT_MANIFEST = ROOT / "cmake" / "windows-sdk" / "manifest.json"
DEFAULT_DEST = ROOT / "build" / "windows-sdk"
DEFAULT_SOURCES = {
    "python-org": "https://www.python.org/ftp/python",
    # PyPI's file host resolves /packages/<python tag>/<first letter>/<project>/<file> to the
    # file's hashed location, so the manifest needs no hashed directory names.
    "pypi-files": "https://files.pythonhosted.org/packages",
}
TIMEOUT = 60  # seconds for connecting and for each read
CHUNK = 1 << 20
STAGING_PREFIX = ".z47-staging-"
HEX64 = re.compile(r"[0-9a-f]{64}")


class Failure(Exception):
    """A problem reported to the user as one line; the run ends with exit status 1."""


def say(message):
    print(message, flush=True)


def sha256_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as handle:
        for chunk in iter(lambda: handle.read(CHUNK), b""):
            digest.update(chunk)
    return digest.hexdigest()


def safe_relative(path, what):
    """Returns `path` if it is a plain relative path with '/' separators, else fails: nothing
    named in the manifest or in a list may point outside its folder."""
    parts = path.split("/") if isinstance(path, str) else []
    if not parts or any(part in ("", ".", "..") or "\\" in part or "\0" in part for part in parts):
        raise Failure(f"{what}: not a plain relative path: {path!r}")
    return path


# --- manifest ---------------------------------------------------------------------------


class Archive:
    def __init__(self, data, where):
        def need(key, kind):
            value = data.get(key)
            if not isinstance(value, kind):
                raise Failure(f"{where}: '{key}' missing or not a {kind.__name__}")
            return value

        self.file = need("file", str)
        if "/" in self.file or self.file in (".", ".."):
            raise Failure(f"{where}: archive name {self.file!r} is not a plain file name")
        where = f"{where} ({self.file})"
        self.source = need("source", str)
        if self.source not in DEFAULT_SOURCES:
            raise Failure(f"{where}: unknown source {self.source!r}")
        self.path = safe_relative(need("path", str), where)
        self.sha256 = data.get("sha256")
        if self.sha256 is not None and not (isinstance(self.sha256, str) and HEX64.fullmatch(self.sha256)):
            raise Failure(f"{where}: 'sha256' must be 64 lowercase hex digits or null")
        self.format = need("format", str)
        if self.format not in ("zip", "tar.xz"):
            raise Failure(f"{where}: unknown format {self.format!r}")
        members = data.get("members", {"": ""})
        if not isinstance(members, dict) or not all(isinstance(v, str) for v in members.values()):
            raise Failure(f"{where}: 'members' must map archive names to folder paths")
        self.members = members
        self.files = need("files", dict)
        if not self.files:
            raise Failure(f"{where}: 'files' is empty")
        for path, digest in self.files.items():
            safe_relative(path, where)
            if not (isinstance(digest, str) and HEX64.fullmatch(digest)):
                raise Failure(f"{where}: pin of {path} must be 64 lowercase hex digits")
        self.record = data.get("record")
        if self.record is not None:
            safe_relative(self.record, where)
            if self.record in self.files:
                raise Failure(f"{where}: {self.record} is both written and extracted")

    def url(self, bases):
        return bases[self.source].rstrip("/") + "/" + urllib.parse.quote(self.path)

    def folder_path(self, member):
        """Where an archive member goes inside the folder, or None if it is not taken.  An
        entry of 'members' ending in '/' maps a prefix, any other entry one name."""
        member = member.replace("\\", "/")
        if member in self.members and not member.endswith("/"):
            return self.members[member]
        for prefix, target in self.members.items():
            if prefix.endswith("/") or prefix == "":
                if member.startswith(prefix) and len(member) > len(prefix):
                    return target + member[len(prefix):]
        return None


class Folder:
    def __init__(self, data, where):
        self.name = data.get("name") if isinstance(data, dict) else None
        if not isinstance(self.name, str) or "/" in self.name or self.name.startswith(".") or not self.name:
            raise Failure(f"{where}: folder name {self.name!r} is not a plain folder name")
        where = f"{where} ({self.name})"
        archives = data.get("archives")
        if not isinstance(archives, list) or not archives:
            raise Failure(f"{where}: 'archives' missing or empty")
        self.archives = [Archive(a if isinstance(a, dict) else {}, where) for a in archives]
        seen = set()
        for archive in self.archives:
            for path in list(archive.files) + ([archive.record] if archive.record else []):
                if path in seen:
                    raise Failure(f"{where}: {path} comes from more than one archive")
                seen.add(path)

    @property
    def list_name(self):
        return self.name + ".sha256"


def load_manifest(path):
    try:
        data = json.loads(Path(path).read_text(encoding="utf-8"))
    except (OSError, ValueError) as error:
        raise Failure(f"cannot read manifest {path}: {error}") from None
    folders = data.get("folders") if isinstance(data, dict) else None
    if not isinstance(folders, list) or not folders:
        raise Failure(f"manifest {path}: 'folders' missing or empty")
    result = [Folder(f, f"manifest {path}") for f in folders]
    names = [f.name for f in result]
    if len(set(names)) != len(names):
        raise Failure(f"manifest {path}: a folder is named twice")
    return result


# --- lists and the written RECORD -------------------------------------------------------


def list_text(hashes):
    return "".join(f"{hashes[p]}  {p}\n" for p in sorted(hashes, key=lambda p: p.encode()))


def parse_list(path):
    """Reads a sha256sum-style list (with or without './' before the names)."""
    listed = {}
    try:
        lines = Path(path).read_text(encoding="utf-8").splitlines()
    except (OSError, UnicodeDecodeError) as error:
        raise Failure(f"cannot read {path}: {error}") from None
    for number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        match = re.fullmatch(r"([0-9a-fA-F]{64}) [ *](.+)", line)
        if not match:
            raise Failure(f"{path}:{number}: not a 'SHA256  NAME' line")
        name = match.group(2)
        name = name[2:] if name.startswith("./") else name
        safe_relative(name, f"{path}:{number}")
        if name in listed:
            raise Failure(f"{path}:{number}: {name} is listed twice")
        listed[name] = match.group(1).lower()
    return listed


def record_bytes(archive, folder_dir):
    """The RECORD of a wheel laid out in the folder: it lists the files taken from that wheel,
    as an installer writes it for what it installed (the wheel's own RECORD lists files the
    centre does not ship)."""
    out = io.StringIO()
    writer = csv.writer(out, lineterminator="\n")
    for path in sorted(archive.files):
        raw = bytes.fromhex(archive.files[path])
        digest = base64.urlsafe_b64encode(raw).rstrip(b"=").decode()
        writer.writerow([path, f"sha256={digest}", (folder_dir / path).stat().st_size])
    writer.writerow([archive.record, "", ""])
    return out.getvalue().encode()


# --- download ---------------------------------------------------------------------------


def download(url, target, expected):
    """Downloads `url` to `target`, through a temporary name beside it; with `expected`, only
    a download of that SHA-256 ever becomes `target`."""
    handle, temporary = tempfile.mkstemp(prefix=target.name + ".", suffix=".part", dir=target.parent)
    try:
        digest = hashlib.sha256()
        size = 0
        with os.fdopen(handle, "wb") as out:
            request = urllib.request.Request(url, headers={"User-Agent": "z47-fetch-windows-sdk"})
            try:
                with urllib.request.urlopen(request, timeout=TIMEOUT) as response:
                    announced = response.headers.get("Content-Length")
                    for chunk in iter(lambda: response.read(CHUNK), b""):
                        out.write(chunk)
                        digest.update(chunk)
                        size += len(chunk)
            except urllib.error.HTTPError as error:
                raise Failure(f"download failed: {url}: HTTP {error.code} {error.reason}") from None
            except urllib.error.URLError as error:
                raise Failure(f"download failed: {url}: {error.reason}") from None
            except (OSError, http.client.HTTPException) as error:
                raise Failure(f"download failed: {url}: {str(error) or type(error).__name__}") from None
            if announced is not None and announced.isdigit() and int(announced) != size:
                raise Failure(f"download failed: {url}: got {size} of {announced} bytes")
        got = digest.hexdigest()
        if expected is not None and got != expected:
            raise Failure(f"SHA-256 mismatch for {target.name} from {url}: expected {expected}, got {got}")
        os.replace(temporary, target)
        return got
    finally:
        if os.path.exists(temporary):
            os.unlink(temporary)


def obtain(archive, cache, bases):
    """Returns (path, fresh): the cached archive, downloaded first unless a cached copy matches
    its pin.  An unpinned cached copy is returned as it is; its files are checked later."""
    target = cache / archive.file
    if target.is_file():
        if archive.sha256 is None:
            say(f"using cached {archive.file}")
            return target, False
        got = sha256_file(target)
        if got == archive.sha256:
            say(f"using cached {archive.file} (SHA-256 verified)")
            return target, False
        say(f"cached {archive.file} does not match its pin (got {got}); fetching it again")
        target.unlink()
    url = archive.url(bases)
    say(f"downloading {url}")
    download(url, target, archive.sha256)
    if archive.sha256 is not None:
        say(f"  SHA-256 verified: {archive.file}")
    return target, True


# --- extraction -------------------------------------------------------------------------


def extract(archive, archive_path, folder, folder_dir):
    """Writes the archive's pinned files into `folder_dir`, checking each against its pin;
    everything else in the archive is left out."""
    written = {}
    left_out = []

    def take(name, regular, open_member):
        path = archive.folder_path(name)
        if path is None or path not in archive.files:
            left_out.append(name)
            return
        if path in written:
            raise Failure(f"{archive.file} holds {path} more than once")
        if not regular:
            raise Failure(f"{archive.file}: {name} is not a regular file")
        target = folder_dir / path
        target.parent.mkdir(parents=True, exist_ok=True)
        digest = hashlib.sha256()
        with open_member() as source, open(target, "wb") as out:
            for chunk in iter(lambda: source.read(CHUNK), b""):
                out.write(chunk)
                digest.update(chunk)
        got = digest.hexdigest()
        if got != archive.files[path]:
            raise Failure(
                f"SHA-256 mismatch for {folder.name}/{path} (from {archive.file}): "
                f"expected {archive.files[path]}, got {got}"
            )
        written[path] = got

    try:
        if archive.format == "zip":
            with zipfile.ZipFile(archive_path) as bundle:
                for info in bundle.infolist():
                    if info.is_dir():
                        continue
                    mode = info.external_attr >> 16
                    regular = mode == 0 or (mode & 0o170000) in (0, 0o100000)
                    take(info.filename, regular, lambda info=info: bundle.open(info))
        else:
            with tarfile.open(archive_path, "r:xz") as bundle:
                for member in bundle:
                    if member.isdir():
                        continue
                    take(member.name, member.isfile(), lambda member=member: bundle.extractfile(member))
    except (zipfile.BadZipFile, tarfile.TarError, lzma.LZMAError, zlib.error, EOFError) as error:
        raise Failure(f"{archive.file} is not a readable {archive.format} archive: {error}") from None

    missing = sorted(set(archive.files) - set(written))
    if missing:
        shown = ", ".join(missing[:5]) + (f" and {len(missing) - 5} more" if len(missing) > 5 else "")
        raise Failure(f"{archive.file} lacks pinned file(s): {shown}")
    if left_out:
        shown = ", ".join(left_out) if len(left_out) <= 3 else f"{len(left_out)} members"
        say(f"  left out of {folder.name} (not pinned): {shown}")
    say(f"  {len(written)} files verified from {archive.file}")
    return written


def lay_out_archive(archive, folder, folder_dir, cache, bases):
    path, fresh = obtain(archive, cache, bases)
    try:
        return extract(archive, path, folder, folder_dir)
    except Failure as error:
        if archive.sha256 is not None:
            raise
        # Nothing vouches for an unpinned archive but its files: one whose files do not
        # verify is no use, so it leaves the cache, and a cached one is fetched once more.
        path.unlink(missing_ok=True)
        if fresh:
            raise
        say(f"cached {archive.file} failed verification ({error}); fetching it again")
        path, _ = obtain(archive, cache, bases)
        try:
            return extract(archive, path, folder, folder_dir)
        except Failure:
            path.unlink(missing_ok=True)
            raise


# --- checking ---------------------------------------------------------------------------


def check_folder(folder, root):
    """Returns the problems of one folder of the SDK at `root` (empty when it verifies)."""
    folder_dir = root / folder.name
    list_path = root / folder.list_name
    if not folder_dir.is_dir():
        return [f"{folder_dir}: folder missing"]
    if not list_path.is_file():
        return [f"{list_path}: list missing"]
    try:
        listed = parse_list(list_path)
    except Failure as error:
        return [str(error)]

    problems = []
    verified = set()

    def verify(path, expected):
        if listed.get(path) is None:
            problems.append(f"{list_path.name} does not list {path}")
        elif listed[path] != expected:
            problems.append(f"{list_path.name} gives {path} as {listed[path]}, but its pin is {expected}")
        target = folder_dir / path
        if not target.is_file() or target.is_symlink():
            problems.append(f"{folder.name}/{path}: missing or not a regular file")
            return
        got = sha256_file(target)
        if got != expected:
            problems.append(f"SHA-256 mismatch for {folder.name}/{path}: expected {expected}, got {got}")
            return
        verified.add(path)

    for archive in folder.archives:
        for path, expected in sorted(archive.files.items()):
            verify(path, expected)
        if archive.record and verified.issuperset(archive.files):
            verify(archive.record, hashlib.sha256(record_bytes(archive, folder_dir)).hexdigest())

    known = {p for a in folder.archives for p in list(a.files) + ([a.record] if a.record else [])}
    for path in sorted(set(listed) - known):
        problems.append(f"{list_path.name} lists {path}, which the manifest does not pin")
    present = set()
    for dirpath, dirnames, filenames in os.walk(folder_dir):
        for name in filenames + [d for d in dirnames if os.path.islink(os.path.join(dirpath, d))]:
            present.add(Path(dirpath, name).relative_to(folder_dir).as_posix())
    for path in sorted(present - known):
        problems.append(f"{folder.name}/{path}: not part of the SDK")
    return problems


def check(folders, root):
    problems = []
    for folder in folders:
        problems += check_folder(folder, root)
    return problems


# --- fetching ---------------------------------------------------------------------------


def install(source, target, trash):
    """Moves a verified folder or file into place, replacing what was there."""
    if target.is_symlink() or target.is_file():
        target.unlink()
    elif target.exists():
        os.replace(target, trash / ("old-" + target.name))
    os.replace(source, target)


def fetch(folders, dest, cache, bases):
    cache.mkdir(parents=True, exist_ok=True)
    if dest.is_dir():
        for stale in dest.glob(STAGING_PREFIX + "*"):  # left by an interrupted run
            shutil.rmtree(stale, ignore_errors=True)
    todo = []
    for folder in folders:
        if dest.is_dir() and not check_folder(folder, dest):
            say(f"{folder.name}: already in place and verified")
        else:
            todo.append(folder)
    if not todo:
        return

    created = not dest.exists()
    dest.mkdir(parents=True, exist_ok=True)
    staging = Path(tempfile.mkdtemp(prefix=STAGING_PREFIX, dir=dest))
    try:
        for folder in todo:
            say(f"{folder.name}:")
            folder_dir = staging / folder.name
            folder_dir.mkdir()
            hashes = {}
            for archive in folder.archives:
                hashes.update(lay_out_archive(archive, folder, folder_dir, cache, bases))
                if archive.record:
                    data = record_bytes(archive, folder_dir)
                    (folder_dir / archive.record).parent.mkdir(parents=True, exist_ok=True)
                    (folder_dir / archive.record).write_bytes(data)
                    hashes[archive.record] = hashlib.sha256(data).hexdigest()
            (staging / folder.list_name).write_text(list_text(hashes), encoding="utf-8")
        # Every folder verified: only now does anything reach the destination.
        trash = staging / ".replaced"
        trash.mkdir()
        for folder in todo:
            install(staging / folder.name, dest / folder.name, trash)
            install(staging / folder.list_name, dest / folder.list_name, trash)
            say(f"laid out {dest / folder.name}")
    finally:
        shutil.rmtree(staging, ignore_errors=True)
        if created and not any(dest.iterdir()):
            dest.rmdir()


def default_cache():
    base = os.environ.get("XDG_CACHE_HOME", "")
    if not os.path.isabs(base):
        base = os.path.join(os.path.expanduser("~"), ".cache")
    return Path(base) / "z47-windows-sdk"


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Download, verify and lay out the Windows SDK folder (Z47_WINDOWS_SDK)."
    )
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--dest", type=Path, metavar="DIR", help=f"SDK folder to lay out (default: {DEFAULT_DEST})")
    mode.add_argument("--check", type=Path, metavar="DIR", help="verify the SDK folder DIR and exit")
    parser.add_argument("--cache", type=Path, metavar="DIR", help="where downloaded archives are kept "
                        "(default: ${XDG_CACHE_HOME:-~/.cache}/z47-windows-sdk)")
    parser.add_argument("--python-org", default=DEFAULT_SOURCES["python-org"], metavar="URL",
                        help="base URL of python.org's release files (default: %(default)s)")
    parser.add_argument("--pypi-files", default=DEFAULT_SOURCES["pypi-files"], metavar="URL",
                        help="base URL of PyPI's file host (default: %(default)s)")
    parser.add_argument("--manifest", type=Path, default=DEFAULT_MANIFEST, metavar="FILE",
                        help="pins of the archives and their files (default: %(default)s)")
    args = parser.parse_args(argv)

    try:
        folders = load_manifest(args.manifest)
        if args.check is not None:
            problems = check(folders, args.check)
            for problem in problems:
                print(f"z47: {problem}", file=sys.stderr)
            if problems:
                print(f"z47: {args.check} does not verify ({len(problems)} problem(s))", file=sys.stderr)
                return 1
            count = sum(len(a.files) + bool(a.record) for f in folders for a in f.archives)
            say(f"z47: {args.check} verified ({count} files in {len(folders)} folders)")
            return 0
        dest = (args.dest or DEFAULT_DEST).absolute()
        cache = (args.cache or default_cache()).absolute()
        bases = {"python-org": args.python_org, "pypi-files": args.pypi_files}
        fetch(folders, dest, cache, bases)
        say(f"z47: Windows SDK ready in {dest}")
        return 0
    except Failure as error:
        print(f"z47: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"z47: {error}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
