"""The Windows launcher as built: what it imports and the resources it carries, read back from
its PE tables and with icoutils."""
import re
import shutil
import struct
import subprocess

import pytest

from launcher_env import PACKAGE_TITLE, WINDOWS_LAUNCHER, built, windows_launcher_missing
from pe_file import MACHINE_AMD64, PE32_PLUS, SUBSYSTEM_WINDOWS_GUI, read_pe

pytestmark = pytest.mark.skipif(windows_launcher_missing() is not None, reason=str(windows_launcher_missing()))

RUNTIME_FUNCTIONS = {
    "PyConfig_InitPythonConfig", "PyConfig_SetArgv", "PyConfig_SetString", "Py_InitializeFromConfig", "PyConfig_Clear",
    "PyStatus_Exception", "Py_IsInitialized", "PyRun_SimpleStringFlags", "PySys_GetObject",
    "PyLong_AsLong", "PyErr_Occurred", "PyErr_Clear", "Py_FinalizeEx",
}
ICON_SIZES = [16, 24, 32, 48, 64, 128, 256]


def tool(name):
    path = shutil.which(name)
    assert path, f"{name} is missing: scripts/install-deps.sh installs it"
    return path


@pytest.fixture(scope="module")
def exe():
    return built(WINDOWS_LAUNCHER)


def test_is_a_64_bit_gui_program_importing_only_system_dlls_and_the_runtime(exe):
    pe = read_pe(exe)
    assert (pe.machine, pe.magic, pe.subsystem) == (MACHINE_AMD64, PE32_PLUS, SUBSYSTEM_WINDOWS_GUI)
    imports = pe.imports
    assert set(imports) == {"kernel32.dll", "user32.dll", "shell32.dll", "gdi32.dll", "msvcrt.dll", "python312.dll"}
    assert imports["python312.dll"] == RUNTIME_FUNCTIONS
    assert {"CreateMutexW", "GetModuleFileNameW", "SetCurrentDirectoryW", "SetDllDirectoryW",
            "SetEnvironmentVariableW", "MultiByteToWideChar", "GetCommandLineW"} <= imports["kernel32.dll"]
    assert {"EnumWindows", "GetWindowTextW", "IsIconic", "ShowWindow", "SetForegroundWindow",
            "BringWindowToTop", "MessageBoxW"} <= imports["user32.dll"]
    assert "CommandLineToArgvW" in imports["shell32.dll"]
    assert imports["gdi32.dll"] == {"AddFontResourceExW"}  # the package's fonts, for the process only
    # PYTHONPATH goes into the process's environment block, not into one C runtime's copy of it
    assert not {"_wputenv_s", "_wputenv", "_putenv_s"} & imports["msvcrt.dll"]


def resources(exe) -> list:
    listing = subprocess.run([tool("wrestool"), "-l", str(exe)], capture_output=True, text=True,
                             check=True).stdout
    return re.findall(r"--type=(\d+) --name=(\S+)", listing)


def extract(exe, type_, name, raw=False) -> bytes:
    """One resource; icon groups come back as whole .ico files unless `raw`."""
    command = [tool("wrestool"), "-x", f"--type={type_}", f"--name={name}", str(exe)]
    return subprocess.run(command + ["--raw"] * raw, check=True, capture_output=True).stdout


def test_carries_icons_and_version_and_no_manifest(exe):
    listed = resources(exe)
    groups = [name for type_, name in listed if type_ == "14"]
    assert groups == ["'IDI_ICON1'", "1"]  # the named group comes first: the shell shows it
    assert [name for type_, name in listed if type_ == "16"] == ["1"]
    assert not [name for type_, name in listed if type_ == "24"]


@pytest.mark.parametrize("group", ["IDI_ICON1", "1"])
def test_icon_group_has_seven_sizes_of_32_bits_and_256_as_png(exe, group):
    ico = extract(exe, 14, group)  # wrestool rebuilds a whole .ico from the group
    reserved, kind, count = struct.unpack_from("<HHH", ico, 0)
    assert (reserved, kind, count) == (0, 1, 7)
    sizes = []
    for i in range(count):
        width, height, _, _, planes, bits, length, offset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
        size = width or 256
        assert (height or 256) == size and bits == 32
        image = ico[offset:offset + length]
        assert image.startswith(b"\x89PNG") == (size == 256), f"{size} px image stored wrongly"
        sizes.append(size)
    assert sorted(sizes) == ICON_SIZES


def version_blocks(data: bytes, offset=0, end=None):
    """Walks a VS_VERSIONINFO tree: yields (key path, value bytes, value type)."""
    end = len(data) if end is None else end
    while offset + 6 <= end:
        length, value_length, type_ = struct.unpack_from("<HHH", data, offset)
        if length == 0:
            return
        key_end = data.index(b"\0\0", offset + 6)
        while (key_end - offset - 6) % 2:
            key_end = data.index(b"\0\0", key_end + 1)
        key = data[offset + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_size = value_length * 2 if type_ == 1 else value_length
        yield key, data[value_at:value_at + value_size], type_
        children_at = (value_at + value_size + 3) & ~3
        for child_key, value, child_type in version_blocks(data, children_at, offset + length):
            yield f"{key}/{child_key}", value, child_type
        offset = (offset + length + 3) & ~3


def test_version_resource(exe):
    data = extract(exe, 16, "1", raw=True)
    blocks = {key: (value, type_) for key, value, type_ in version_blocks(data)}
    fixed = blocks["VS_VERSION_INFO"][0]
    (signature, _, file_ms, file_ls, product_ms, product_ls, _, _,
     file_os, file_type) = struct.unpack_from("<10I", fixed)
    assert signature == 0xFEEF04BD
    assert (file_ms, file_ls, product_ms, product_ls) == (0x20000, 0, 0x20000, 0)  # 2.0.0.0
    assert (file_os, file_type) == (0x40004, 1)  # Windows NT, 32-bit API; an application
    strings = {key.rsplit("/", 1)[1]: value.decode("utf-16-le").rstrip("\0")
               for key, (value, _) in blocks.items()
               if key.startswith("VS_VERSION_INFO/StringFileInfo/") and key.count("/") == 3}
    # windres reads the resource script as UTF-8 only with -c 65001; the letters survive.
    assert strings["ProductName"] == PACKAGE_TITLE
    assert strings["InternalName"] == "z47-linux-sistem-paketi"
    assert strings["FileVersion"] == strings["ProductVersion"] == "2.0.0"
    assert strings["OriginalFilename"] == "Z47_Masaustu_Araclari_Tam_Paketi.exe"
