"""Checks of the built exe and hook.dll as files, read from their PE headers: what no run under
Wine can show because the loader does not care.

Run: python3 tests/wine/shipped_binaries.py   (CTest: binaries; paths from LSV_EXE, LSV_HOOK_DLL
and LSV_WIN_BITS as for the Wine scenarios)
"""

from __future__ import annotations

import os
import struct
import sys
import unittest
from dataclasses import dataclass
from pathlib import Path

sys.dont_write_bytecode = True

IMAGE_FILE_MACHINE_I386 = 0x014C
IMAGE_FILE_MACHINE_AMD64 = 0x8664
IMAGE_FILE_LARGE_ADDRESS_AWARE = 0x0020
IMAGE_FILE_DLL = 0x2000


@dataclass
class PeHeader:
    machine: int
    characteristics: int


def read_pe_header(path: Path) -> PeHeader:
    data = path.read_bytes()
    if data[:2] != b"MZ":
        raise ValueError(f"{path} is not an MZ executable")
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise ValueError(f"{path} has no PE signature")
    machine, _, _, _, _, _, characteristics = struct.unpack_from("<HHIIIHH", data, pe_offset + 4)
    return PeHeader(machine, characteristics)


@dataclass
class Import:
    ordinal: int | None  # None: imported by name
    name: str | None


def read_imports(path: Path) -> dict[str, list[Import]]:
    """Every DLL the file imports from (lower case), with what it takes from each."""
    data = path.read_bytes()
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    _, sections, _, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe_offset + 4)
    optional = pe_offset + 24
    (magic,) = struct.unpack_from("<H", data, optional)
    wide = magic == 0x20B
    directories = optional + (112 if wide else 96)
    import_rva, _ = struct.unpack_from("<II", data, directories + 8)
    table = optional + optional_size
    section_list = [struct.unpack_from("<8sIIII", data, table + 40 * i) for i in range(sections)]

    def offset(rva: int) -> int:
        for _, virtual_size, virtual_address, raw_size, raw_pointer in section_list:
            if virtual_address <= rva < virtual_address + max(virtual_size, raw_size):
                return rva - virtual_address + raw_pointer
        raise ValueError(f"RVA {rva:#x} lies in no section of {path}")

    def text(rva: int) -> str:
        start = offset(rva)
        return data[start:data.index(b"\0", start)].decode("ascii")

    imports: dict[str, list[Import]] = {}
    descriptor = offset(import_rva)
    entry_size, ordinal_flag = (8, 1 << 63) if wide else (4, 1 << 31)
    while True:
        lookup, _, _, name_rva, first_thunk = struct.unpack_from("<IIIII", data, descriptor)
        if name_rva == 0:
            return imports
        entries = imports.setdefault(text(name_rva).lower(), [])
        thunk = offset(lookup or first_thunk)
        while True:
            (value,) = struct.unpack_from("<Q" if wide else "<I", data, thunk)
            if value == 0:
                break
            if value & ordinal_flag:
                entries.append(Import(value & 0xFFFF, None))
            else:
                entries.append(Import(None, text((value & 0x7FFFFFFF) + 2)))
            thunk += entry_size
        descriptor += 20


class ShippedBinaries(unittest.TestCase):
    def setUp(self) -> None:
        missing = [name for name in ("LSV_EXE", "LSV_HOOK_DLL", "LSV_WIN_BITS") if not os.environ.get(name)]
        if missing:
            self.skipTest(f"{', '.join(missing)} not set (CTest sets them)")
        self.exe = Path(os.environ["LSV_EXE"])
        self.hook = Path(os.environ["LSV_HOOK_DLL"])
        self.bits = os.environ["LSV_WIN_BITS"]

    def test_machine_matches_the_build(self):
        wanted = IMAGE_FILE_MACHINE_I386 if self.bits == "32" else IMAGE_FILE_MACHINE_AMD64
        for path in (self.exe, self.hook):
            with self.subTest(path=path.name):
                self.assertEqual(read_pe_header(path).machine, wanted)

    def test_exe_may_use_more_than_2_gib(self):
        # The browser engine shares the exe's address space; a 32-bit exe gets 4 GiB on 64-bit
        # Windows only when it says it can handle addresses above 2 GiB.
        header = read_pe_header(self.exe)
        self.assertTrue(header.characteristics & IMAGE_FILE_LARGE_ADDRESS_AWARE, hex(header.characteristics))
        self.assertFalse(header.characteristics & IMAGE_FILE_DLL)


    def test_exe_imports_the_hook_library_by_ordinal_only(self):
        # hook.dll exports no names; an import by name would leave the exe unable to start.
        hook = read_imports(self.exe).get("hook.dll")
        self.assertIsNotNone(hook, "the exe does not import hook.dll")
        self.assertEqual(sorted(i.ordinal for i in hook), [1, 2, 3])
        self.assertEqual([i.name for i in hook if i.name is not None], [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
