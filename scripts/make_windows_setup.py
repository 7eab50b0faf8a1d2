#!/usr/bin/env python3
"""Makes the Windows setup program from the package folder, with Debian's makensis.

    make_windows_setup.py --package build/dist/windows/Z47_Masaustu_Araclari_Tam_Paketi \\
        --version 2.0.0 --icon build/windows/launcher/icon/z47_centre.ico \\
        --work build/windows-setup [--dest build/dist/windows]

The setup's file list is not kept by hand: this script reads the package folder and writes
<work>/setup_files.nsh, which scripts/windows_setup.nsi includes:

    PACKAGE_SIZE_KB           what the files take, for the uninstall entry's EstimatedSize
    Z47_INSTALL_FILES         SetOutPath and File lines, folder by folder
    Z47_UNINSTALL_FILES       a Delete line for each of those files (and for the byte code
                              Python caches beside each of its .py files), then RMDir for each
                              folder, deepest first; RMDir without /r removes only an empty
                              folder, so files the user put there stay, and so does their folder

The include is rewritten only when its text changes; it names a digest of every file's bytes,
so a changed file changes the include too, and the build remakes the setup only then.  With
--dest the setup is compiled as <dest>/Z47_Masaustu_Araclari_Tam_Paketi-<version>-setup.exe
(under a temporary name, then put in place).
"""
import argparse
import hashlib
import os
import pathlib
import subprocess
import sys

NAME = "Z47_Masaustu_Araclari_Tam_Paketi"
HERE = pathlib.Path(__file__).resolve().parent
SCRIPT = HERE / "windows_setup.nsi"
INCLUDE = "setup_files.nsh"
PYTHON_TAG = "cpython-312"  # the caches the package's runtime writes: <name>.cpython-312[.opt-N].pyc


class SetupError(Exception):
    pass


def nsis_text(text: str) -> str:
    """A string as NSIS reads it between double quotes."""
    return text.replace("$", "$$").replace('"', '$\\"')


def windows_name(relative: pathlib.PurePosixPath) -> str:
    return str(relative).replace("/", "\\")


def setup_files(package: pathlib.Path) -> str:
    """The text of setup_files.nsh for the package folder."""
    if not package.is_dir():
        raise SetupError(f"the package folder is missing: {package}")
    files = sorted(p.relative_to(package) for p in package.rglob("*") if p.is_file())
    folders = sorted({parent for f in files for parent in f.parents if parent != pathlib.Path(".")} |
                     {p.relative_to(package) for p in package.rglob("*") if p.is_dir()})
    if not files:
        raise SetupError(f"the package folder is empty: {package}")
    digest = hashlib.sha256()
    size = 0
    for relative in files:
        data = (package / relative).read_bytes()
        digest.update(f"{relative.as_posix()}\0{len(data)}\0".encode("utf-8"))
        digest.update(data)
        size += len(data)

    lines = [
        "; Written by scripts/make_windows_setup.py from the package folder: do not edit.",
        f"; Package: {package}",
        f"; Digest of its files: {digest.hexdigest()}",
        f"!define PACKAGE_SIZE_KB {(size + 1023) // 1024}",
        "",
        "!macro Z47_INSTALL_FILES",
    ]
    by_folder = {}
    for relative in files:
        by_folder.setdefault(relative.parent, []).append(relative)
    for folder in [pathlib.Path("."), *folders]:
        target = "$INSTDIR" if folder == pathlib.Path(".") else f"$INSTDIR\\{nsis_text(windows_name(folder))}"
        lines.append(f'  SetOutPath "{target}"')
        for relative in by_folder.get(folder, []):
            lines.append(f'  File "{nsis_text(str(package / relative))}"')
    lines += ["  SetOutPath \"$INSTDIR\"", "!macroend", "", "!macro Z47_UNINSTALL_FILES"]
    caches = []
    for relative in files:
        lines.append(f'  Delete "$INSTDIR\\{nsis_text(windows_name(relative))}"')
        if relative.suffix == ".py":
            cache = relative.parent / "__pycache__"
            lines.append(f'  Delete "$INSTDIR\\{nsis_text(windows_name(cache / relative.stem))}.{PYTHON_TAG}*.pyc"')
            caches.append(cache)
    for folder in sorted(set(caches) | set(folders), key=lambda f: (-len(f.parts), str(f))):
        lines.append(f'  RMDir "$INSTDIR\\{nsis_text(windows_name(folder))}"')
    lines += ["!macroend", ""]
    return "\r\n".join(lines)


def write_if_changed(path: pathlib.Path, text: str) -> bool:
    data = text.encode("utf-8")
    if path.exists() and path.read_bytes() == data:
        return False
    partial = path.with_name(f".{path.name}.partial")
    partial.write_bytes(data)
    partial.replace(path)
    return True


def compile_setup(makensis: str, include: pathlib.Path, version: str, icon: pathlib.Path,
                  dest: pathlib.Path) -> pathlib.Path:
    target = dest / f"{NAME}-{version}-setup.exe"
    partial = dest / f".{target.name}.partial"
    dest.mkdir(parents=True, exist_ok=True)
    command = [makensis, "-V2", "-NOCD", "-INPUTCHARSET", "UTF8",
               f"-DVERSION={version}", f"-DFILES_INCLUDE={include}", f"-DICON={icon}", f"-DOUTFILE={partial}",
               str(SCRIPT)]
    try:
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if result.returncode != 0:
            raise SetupError(f"makensis failed ({result.returncode}):\n{result.stdout}{result.stderr}")
        partial.replace(target)
    finally:
        if partial.exists():
            partial.unlink()
    return target


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--package", type=pathlib.Path, required=True, help="the package folder")
    parser.add_argument("--version", required=True, help="the version, as three numbers: 2.0.0")
    parser.add_argument("--icon", type=pathlib.Path, required=True, help="the launcher's .ico")
    parser.add_argument("--work", type=pathlib.Path, required=True, help="where setup_files.nsh goes")
    parser.add_argument("--dest", type=pathlib.Path, help="compile the setup into this folder")
    parser.add_argument("--makensis", default=os.environ.get("MAKENSIS", "makensis"))
    args = parser.parse_args(argv)
    try:
        if len(args.version.split(".")) != 3 or not all(p.isdigit() for p in args.version.split(".")):
            raise SetupError(f"the version is not three numbers: {args.version}")
        if not args.icon.is_file():
            raise SetupError(f"the launcher's icon is missing: {args.icon}")
        args.work.mkdir(parents=True, exist_ok=True)
        include = args.work / INCLUDE
        write_if_changed(include, setup_files(args.package.resolve()))
        if args.dest:
            target = compile_setup(args.makensis, include, args.version, args.icon.resolve(), args.dest)
            print(f"Windows setup:   {target}")
    except (SetupError, OSError) as error:
        print(f"z47: Windows setup not made: {error}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
