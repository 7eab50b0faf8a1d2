#!/usr/bin/python3
"""Lays out the Windows package: the folder a Windows user unzips and the zip beside it.

    Z47_Masaustu_Araclari_Tam_Paketi/
        Z47_Masaustu_Araclari_Tam_Paketi.exe        the launcher (double-clicked)
        Z47_Kurulum_Merkezi.cp312-win_amd64.pyd     the centre
        python312.dll, python312.zip, pythonw.exe   the embeddable Python 3.12 runtime, whole
        python312._pth                              the runtime's search path (below)
        Lib/site-packages/PyQt5/...                 PyQt5 with its Qt, and Qt's Turkish texts
                                                    in PyQt5/Qt5/translations
        fonts/                                      Roboto, the window's font, with its licence:
                                                    the launcher registers it for its own process
        z47-linux-monitor/, ...                     the six tool folders
    Z47_Masaustu_Araclari_Tam_Paketi-<version>-win64.zip

The runtime's ._pth file fixes its module search path (PYTHONPATH is ignored when it is
there): the standard library, the package folder itself (the centre) and Lib\\site-packages.
Both the launcher's embedded runtime and pythonw.exe, which runs a tool's app.py, read it.

The folder and the zip are made under temporary names and then put in place, so a failed run
never leaves a half-made package where a finished one was.
"""
import argparse
import os
import pathlib
import hashlib
import shutil
import sys
import zipfile

NAME = "Z47_Masaustu_Araclari_Tam_Paketi"
MODULE = "Z47_Kurulum_Merkezi.cp312-win_amd64.pyd"
RUNTIME = "python-3.12.4-embed-amd64"
PYQT5 = "pyqt5-5.15.11-win_amd64"
TOOLS = ["z47-linux-monitor", "z47-vpn-adblocker", "z47-delmo", "z47-system-network", "z47-cloud",
         "z47-remote-desktop"]
SEARCH_PATH = "python312.zip\r\n.\r\nLib\\site-packages\r\n"
# Qt's Turkish texts for its standard buttons ("Tamam", "Evet", "Hayır").  PyQt5's wheel for
# Windows does not carry them; the file is the same for every platform, and Debian's
# qttranslations5-l10n has it (5.15.8 on Debian 12 and 5.15.15 on Debian 13 ship these bytes).
QT_TRANSLATIONS = pathlib.Path("/usr/share/qt5/translations")
QT_TRANSLATION = "qtbase_tr.qm"
QT_TRANSLATION_SHA256 = "6a0bf6e70e7920c2b193e76e92f78f315936955d3b06ac039d917f2e06c43281"
# The window is designed in Roboto, which a stock Windows machine does not have (Qt would fall
# back to Tahoma, wider and at regular weight).  The upright weights of Debian's
# fonts-roboto-unhinted (the same bytes on Debian 12 and 13), under the Apache licence.
ROBOTO = pathlib.Path("/usr/share/fonts/truetype/roboto/unhinted/RobotoTTF")
ROBOTO_SHA256 = {
    "Roboto-Thin.ttf": "52cab88c2fe93c21152b483763745976861be2e3cc093554155f8a3b24de5b97",
    "Roboto-Light.ttf": "e5c6b2b3cad15fd7dd820970eb859635d75bb2155b1a70f78a0668f8ba6d6eef",
    "Roboto-Regular.ttf": "797e35f7f5d6020a5c6ea13b42ecd668bcfb3bbc4baa0e74773527e5b6cb3174",
    "Roboto-Medium.ttf": "7984aafeaf437899ce89b251d2875fc5048cb7d290152eac070239cca7ff726c",
    "Roboto-Bold.ttf": "36f3709dea3e3ce3c6aedc058079e55980825f898f1e901d091c73c40de8bab1",
    "Roboto-Black.ttf": "bbd81322180b38dee7c61668970af6159f7fd180eac6bf615f3d1e06f878d3f0",
}
APACHE_LICENCE = pathlib.Path("/usr/share/common-licenses/Apache-2.0")
ROBOTO_NOTICE = ("Roboto\r\nCopyright 2015 Google Inc.\r\n"
                 "Licensed under the Apache License, Version 2.0, whose text follows.\r\n\r\n")
ZIP_TIME = (2024, 1, 1, 0, 0, 0)  # the same bytes for the same files, whenever it is built

HERE = pathlib.Path(__file__).resolve().parent


class PackageError(Exception):
    pass


def need(path: pathlib.Path, what: str) -> pathlib.Path:
    if not path.exists():
        raise PackageError(f"{what} is missing: {path}")
    return path


def check_sdk(sdk: pathlib.Path):
    """Every file of the two parts the package ships must match the list it came with (each
    folder's <folder>.sha256; fetch_windows_sdk.py --check also holds them against the pins)."""
    for part in (RUNTIME, PYQT5):
        listing = need(sdk / f"{part}.sha256", "the list of the Windows parts")
        for line in listing.read_text(encoding="utf-8").splitlines():
            if not line.strip():
                continue
            expected, name = line.split(maxsplit=1)
            path = sdk / part / name.lstrip("*")
            digest = hashlib.sha256(need(path, "a listed file").read_bytes()).hexdigest()
            if digest != expected.lower():
                raise PackageError(f"{path} does not match its list: expected {expected}, got {digest}")


def copy_file(source: pathlib.Path, target: pathlib.Path):
    """A copy that its owner may change and remove, whatever the source's mode: the Windows
    parts may be a read-only copy, and a package laid out from them must still be replaceable
    by the user who builds it (an executable stays executable)."""
    shutil.copyfile(source, target)
    target.chmod(0o755 if source.stat().st_mode & 0o100 else 0o644)


def copy_tree(source: pathlib.Path, target: pathlib.Path):
    target.mkdir(mode=0o755)
    for item in sorted(source.iterdir()):
        (copy_tree if item.is_dir() else copy_file)(item, target / item.name)


def pinned(path: pathlib.Path, what: str, sha256: str) -> pathlib.Path:
    """The file, once its bytes are the ones the package is made with."""
    digest = hashlib.sha256(need(path, what).read_bytes()).hexdigest()
    if digest != sha256:
        raise PackageError(f"{path} is not the file the package is made with: expected {sha256}, got {digest}")
    return path


def lay_out_fonts(folder: pathlib.Path, roboto: pathlib.Path):
    folder.mkdir()
    for name, sha256 in ROBOTO_SHA256.items():
        copy_file(pinned(roboto / name, "Roboto (Debian's fonts-roboto-unhinted)", sha256), folder / name)
    licence = need(APACHE_LICENCE, "the Apache licence's text").read_text(encoding="utf-8")
    (folder / "Roboto-LICENSE.txt").write_bytes((ROBOTO_NOTICE + licence.replace("\n", "\r\n")).encode("utf-8"))


def lay_out(folder: pathlib.Path, sdk: pathlib.Path, build: pathlib.Path, qt_translations: pathlib.Path,
            roboto: pathlib.Path):
    folder.mkdir(parents=True)
    windows = build / "windows"
    for built, what in ((f"{NAME}.exe", "the Windows launcher"), (MODULE, "the Windows module")):
        copy_file(need(windows / built, what), folder / built)

    for item in need(sdk / RUNTIME, "the Python runtime").iterdir():
        if item.is_file():
            copy_file(item, folder / item.name)
    (folder / "python312._pth").write_bytes(SEARCH_PATH.encode("ascii"))

    site = folder / "Lib" / "site-packages"
    site.parent.mkdir()
    copy_tree(need(sdk / PYQT5, "PyQt5 for Windows"), site)
    translations = site / "PyQt5" / "Qt5" / "translations"  # where PyQt5's Qt looks for them
    translations.mkdir()
    copy_file(pinned(qt_translations / QT_TRANSLATION, "Qt's Turkish texts (Debian's qttranslations5-l10n)",
                     QT_TRANSLATION_SHA256), translations / QT_TRANSLATION)
    lay_out_fonts(folder / "fonts", roboto)

    for tool in TOOLS:
        copy_tree(need(build / "centre" / tool, "a sample tool folder"), folder / tool)


def write_zip(folder: pathlib.Path, target: pathlib.Path):
    files = sorted(p for p in folder.rglob("*") if p.is_file())
    with zipfile.ZipFile(target, "w", compression=zipfile.ZIP_DEFLATED, compresslevel=6) as archive:
        for path in files:
            name = f"{NAME}/{path.relative_to(folder).as_posix()}"
            info = zipfile.ZipInfo(name, ZIP_TIME)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = (0o755 if path.suffix == ".sh" else 0o644) << 16
            with path.open("rb") as source, archive.open(info, "w") as sink:
                shutil.copyfileobj(source, sink, 1 << 20)


def replace(temporary: pathlib.Path, final: pathlib.Path):
    if final.is_dir():
        shutil.rmtree(final)
    elif final.exists():
        final.unlink()
    temporary.rename(final)


def make_package(sdk: pathlib.Path, build: pathlib.Path, dest: pathlib.Path, version: str, check=True,
                 qt_translations: pathlib.Path = QT_TRANSLATIONS, roboto: pathlib.Path = ROBOTO):
    if check:
        check_sdk(sdk)
    dest.mkdir(parents=True, exist_ok=True)
    folder = dest / NAME
    archive = dest / f"{NAME}-{version}-win64.zip"
    partial_folder = dest / f".{NAME}.partial"
    partial_zip = dest / f".{archive.name}.partial"
    for leftover in (partial_folder, partial_zip):
        if leftover.is_dir():
            shutil.rmtree(leftover)
        elif leftover.exists():
            leftover.unlink()
    try:
        lay_out(partial_folder, sdk, build, qt_translations, roboto)
        write_zip(partial_folder, partial_zip)
        replace(partial_folder, folder)
        replace(partial_zip, archive)
    finally:
        shutil.rmtree(partial_folder, ignore_errors=True)
        if partial_zip.exists():
            partial_zip.unlink()
    return folder, archive


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--sdk", type=pathlib.Path, default=os.environ.get("Z47_WINDOWS_SDK"),
                        help="folder of the Windows parts (default: $Z47_WINDOWS_SDK)")
    parser.add_argument("--build", type=pathlib.Path, default=HERE.parent / "build")
    parser.add_argument("--dest", type=pathlib.Path, required=True)
    parser.add_argument("--version", required=True)
    args = parser.parse_args(argv)
    if not args.sdk:
        print("z47: Windows parts missing (Z47_WINDOWS_SDK is not set): no Windows package; "
              "see docs/windows-sdk.md", file=sys.stderr)
        return 2
    try:
        folder, archive = make_package(args.sdk, args.build, args.dest, args.version)
    except (PackageError, OSError) as error:
        print(f"z47: Windows package not made: {error}", file=sys.stderr)
        return 1
    print(f"Windows package: {folder}")
    print(f"                 {archive}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
