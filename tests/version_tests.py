#!/usr/bin/env python3
"""The version information as Explorer reads it: from the built executable.

usage: version_tests.py VELMORA_EXE MAKER_NAME
"""
import struct
import sys
import unittest

from pack_tests import rcdata_resources

EXE = MAKER = None
RT_VERSION = 16


def blocks(data, at, end):
    """(key, value bytes, value type, children offset range) of each block in data[at:end]."""
    while at + 6 <= end:
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        if length == 0:
            break
        key_end = at + 6
        while data[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        size = value_length * 2 if kind == 1 else value_length
        yield key, data[value_at:value_at + size], kind, ((value_at + size + 3) & ~3, at + length)
        at = (at + length + 3) & ~3


class VersionInformation(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        resources = rcdata_resources(EXE, RT_VERSION)
        cls.ids = list(resources)
        data = resources.get(1, b"")
        (cls.root,) = list(blocks(data, 0, len(data))) or [None]
        cls.data = data

    def test_fixed_versions(self):
        self.assertEqual(self.ids, [1])
        key, value, _, _ = self.root
        self.assertEqual(key, "VS_VERSION_INFO")
        signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", value)
        self.assertEqual(signature, 0xFEEF04BD)
        version = lambda ms, ls: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
        self.assertEqual(version(file_ms, file_ls), (2, 5, 3, 1025))
        self.assertEqual(version(product_ms, product_ls), (2, 5, 3, 1025))

    def test_strings_in_simplified_chinese(self):
        strings = {}
        for key, _, _, (start, end) in blocks(self.data, *self.root[3]):
            if key == "StringFileInfo":
                for table, _, _, (t_start, t_end) in blocks(self.data, start, end):
                    self.assertEqual(table.upper(), "080404B0")
                    for name, value, _, _ in blocks(self.data, t_start, t_end):
                        strings[name] = value.decode("utf-16-le").rstrip("\0")
        self.assertEqual(strings["ProductName"], "Velmora")
        self.assertEqual(strings["FileVersion"], "2.5.3.1025")
        self.assertEqual(strings["ProductVersion"], "2.5.3.1025")
        self.assertEqual(strings["OriginalFilename"], "Velmora.exe")
        self.assertEqual(strings["CompanyName"], MAKER)
        self.assertIn("英雄联盟", strings["FileDescription"])


if __name__ == "__main__":
    EXE, MAKER = sys.argv[1], sys.argv[2]
    del sys.argv[1:3]
    unittest.main(verbosity=2)
