"""What a Windows program or DLL says about itself in its PE headers: its kind, what it imports
from which DLL and what it exports, read from the tables themselves (the layout of one
binutils release's listing is not something to test against)."""
import dataclasses
import itertools
import pathlib
import struct

PE32_PLUS = 0x20B
MACHINE_AMD64 = 0x8664
SUBSYSTEM_WINDOWS_GUI = 2
_EXPORT_TABLE, _IMPORT_TABLE = 0, 1


@dataclasses.dataclass
class PeFile:
    machine: int
    magic: int
    subsystem: int
    imports: dict  # DLL name in lower case -> set of imported names (ordinals as "#n")
    exports: list  # exported names, in the table's order


class _Image:
    """Reads the file's bytes by relative virtual address, through its section table."""

    def __init__(self, data: bytes, sections: list):
        self.data, self.sections = data, sections

    def offset(self, rva: int) -> int:
        for virtual_address, size, raw_offset in self.sections:
            if virtual_address <= rva < virtual_address + size:
                return raw_offset + rva - virtual_address
        raise ValueError(f"address {rva:#x} lies in no section")

    def unpack(self, fmt: str, rva: int) -> tuple:
        return struct.unpack_from(fmt, self.data, self.offset(rva))

    def text(self, rva: int) -> str:
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")


def read_pe(path: pathlib.Path) -> PeFile:
    data = pathlib.Path(path).read_bytes()
    (pe,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError(f"{path} is not a PE file")
    machine, section_count, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
    optional = pe + 24
    (magic,) = struct.unpack_from("<H", data, optional)
    (subsystem,) = struct.unpack_from("<H", data, optional + 68)
    directories = optional + (112 if magic == PE32_PLUS else 96)
    sections = []
    for i in range(section_count):
        entry = optional + optional_size + 40 * i
        virtual_size, virtual_address, raw_size, raw_offset = struct.unpack_from("<IIII", data, entry + 8)
        sections.append((virtual_address, max(virtual_size, raw_size), raw_offset))
    image = _Image(data, sections)

    def directory(index: int) -> tuple:
        return struct.unpack_from("<II", data, directories + 8 * index)

    return PeFile(machine, magic, subsystem, _imports(image, directory(_IMPORT_TABLE)[0], magic),
                  _exports(image, directory(_EXPORT_TABLE)[0]))


def _imports(image: _Image, table: int, magic: int) -> dict:
    imports = {}
    if not table:
        return imports
    thunk_format, ordinal_flag = ("<Q", 1 << 63) if magic == PE32_PLUS else ("<I", 1 << 31)
    thunk_size = struct.calcsize(thunk_format)
    for descriptor in itertools.count(table, 20):
        lookup, _, _, name, first_thunk = image.unpack("<IIIII", descriptor)
        if not (lookup or name or first_thunk):
            break
        names = imports.setdefault(image.text(name).lower(), set())
        thunk = lookup or first_thunk
        while (entry := image.unpack(thunk_format, thunk)[0]) != 0:
            # By ordinal, or the address of a two-byte hint followed by the name.
            names.add(f"#{entry & 0xFFFF}" if entry & ordinal_flag else image.text(entry + 2))
            thunk += thunk_size
    return imports


def _exports(image: _Image, table: int) -> list:
    if not table:
        return []
    name_count, _, names = image.unpack("<IIII", table + 20)[1:]
    return [image.text(image.unpack("<I", names + 4 * i)[0]) for i in range(name_count)]
