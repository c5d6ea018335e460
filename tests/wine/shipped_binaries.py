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


if __name__ == "__main__":
    unittest.main(verbosity=2)
