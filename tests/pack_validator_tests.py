#!/usr/bin/env python3
"""The pack validator on the generated packs (all pass) and on broken
archives made here (each rule fires with its own message).

usage: pack_validator_tests.py PACKS_FOLDER
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
VALIDATOR = os.path.join(HERE, "..", "tools", "validate_packs.py")
sys.path.insert(0, os.path.join(HERE, "..", "tools"))
from make_packs import FORM_A, FORM_B  # noqa: E402

PACKS = None


def validate(*args):
    """(exit code, standard error): where the validator's errors and warnings go."""
    out = subprocess.run([sys.executable, VALIDATOR] + list(args), capture_output=True, text=True)
    return out.returncode, out.stderr


def validate_stdout(*args):
    return subprocess.run([sys.executable, VALIDATOR] + list(args), capture_output=True, text=True).stdout


def zip_of(members, flags=0, trailing=b"", stored_files=False, deflated_dirs=False, bad_crc=None):
    """members: [(name, data)]; names ending in "/" are folders."""
    local, central = bytearray(), bytearray()
    for name, data in members:
        raw = name.encode("ascii")
        is_dir = name.endswith("/")
        method = 8 if (deflated_dirs if is_dir else not stored_files) else 0
        if method == 8:
            c = zlib.compressobj(6, zlib.DEFLATED, -15)
            comp = c.compress(data) + c.flush()
        else:
            comp = data
        crc = zlib.crc32(data) ^ (1 if name == bad_crc else 0)
        offset = len(local)
        local += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0, 0x4421, crc, len(comp), len(data),
                             len(raw), 0) + raw + comp
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 63, 20, flags, method, 0, 0x4421, crc, len(comp),
                               len(data), len(raw), 0, 0, 0, 0, 0x10 if is_dir else 0x20, offset) + raw
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central), len(local), 0)
    return bytes(local + central + end) + trailing


def good_members(form=FORM_B):
    return [("ClientZips.txt", form), ("DATA/", b""), ("DATA/Menu/", b""),
            ("DATA/Menu/fontconfig_zh_CN.txt", b"[FontConfig]\r\n"), ("DATA/Menu/textures/", b""),
            ("DATA/Menu/textures/HUDAtlas.dds", small_dds())]


def small_dds(width=4, height=4, pixels=None):
    """An uncompressed 32-bit BGRA DDS; pixels: width x height x 4 bytes (grey when omitted)."""
    header = struct.pack("<4sIIIIIII44sII4sIIIIIIIIII", b"DDS ", 124, 0x100F, height, width, width * 4, 0, 1,
                         bytes(44), 32, 0x41, bytes(4), 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 0x1000, 0, 0, 0, 0)
    return header + (pixels if pixels is not None else bytes((128, 128, 128, 255)) * (width * height))


class ScratchFolder(unittest.TestCase):
    """A test with a folder of its own, removed after it."""
    prefix = "velmora-test-"

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix=self.prefix)

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data)
        return path


class Validator(ScratchFolder):
    prefix = "velmora-validate-"

    def test_the_generated_packs_pass(self):
        code, err = validate(PACKS)
        self.assertEqual(code, 0, err)
        self.assertEqual(err, "")
        self.assertIn("44 archive(s) checked", validate_stdout(PACKS))

    def test_errors_go_to_standard_error_only(self):
        path = self.write("pack07.zip", zip_of(good_members(), bad_crc="DATA/Menu/textures/HUDAtlas.dds"))
        code, err = validate(path)
        self.assertEqual(code, 1)
        self.assertIn("pack07.zip: DATA/Menu/textures/HUDAtlas.dds: CRC-32 does not match its bytes", err)
        self.assertEqual(validate_stdout(path), "")

    def test_each_broken_archive_fails_with_its_own_message(self):
        g = good_members()
        cases = {
            "trailing": (zip_of(g, trailing=b"junk"), "(archive)", "4 bytes after the end record"),
            "cut": (zip_of(g)[:-10], "(archive)", "no end-of-central-directory record"),
            "notfirst": (zip_of(g[1:] + g[:1]), "DATA/", "the first member must be ClientZips.txt"),
            "noparent": (zip_of([m for m in g if m[0] != "DATA/Menu/textures/"]), "DATA/Menu/textures/HUDAtlas.dds",
                         "has no directory member before it"),
            "backslash": (zip_of(g + [("DATA\\Menu\\x.ini", b"x")]), "DATA\\Menu\\x.ini", "\"/\"-separated"),
            "dotdot": (zip_of(g + [("DATA/../x.ini", b"x")]), "DATA/../x.ini", "\"..\" level"),
            "colon": (zip_of(g + [("C:x.ini", b"x")]), "C:x.ini", "without a drive or colon"),
            "device": (zip_of(g + [("DATA/aux.ini", b"x")]), "DATA/aux.ini", "device name"),
            "long": (zip_of(g + [("DATA/" + "n" * 260, b"x")]), "DATA/nnn", "longer than 259 bytes"),
            "stored": (zip_of(g, stored_files=True), "ClientZips.txt", "must be deflated"),
            "deflateddir": (zip_of(g, deflated_dirs=True), "DATA/", "must be stored"),
            "encrypted": (zip_of(g, flags=1), "ClientZips.txt", "encrypted"),
            "descriptor": (zip_of(g, flags=8), "ClientZips.txt", "data descriptor"),
            "common": (zip_of([m for m in g if "fontconfig" not in m[0]]), "data/menu/fontconfig_zh_cn.txt",
                       "every pack has is missing"),
            "crc": (zip_of(g, bad_crc="DATA/Menu/textures/HUDAtlas.dds"), "DATA/Menu/textures/HUDAtlas.dds",
                    "CRC-32 does not match"),
        }
        seen = set()
        for label, (data, member, rule) in cases.items():
            path = self.write(label + ".zip", data)
            code, out = validate(path)
            self.assertEqual(code, 1, label + ": " + out)
            lines = [l for l in out.splitlines() if l.startswith(label + ".zip: ")]
            self.assertTrue(any(member in l and rule in l for l in lines), "%s: %s" % (label, out))
            seen.add(rule)
        self.assertEqual(len(seen), len(cases))

    def test_the_client_list_form_follows_the_entry(self):
        self.assertEqual(validate(self.write("pack01.zip", zip_of(good_members(FORM_A))))[0], 0)
        code, out = validate(self.write("pack02.zip", zip_of(good_members(FORM_B))))
        self.assertEqual(code, 1)
        self.assertIn("pack02.zip: ClientZips.txt: ClientZips.txt is not form A", out)
        code, out = validate(self.write("pack03.zip", zip_of(good_members(FORM_A))))
        self.assertIn("is not form B", out)

    def test_other_counts_and_sizes_only_warn(self):
        # Entry 5 of the catalogue has other counts and sizes than this small pack.
        code, out = validate(self.write("pack05.zip", zip_of(good_members())))
        self.assertEqual(code, 0, out)
        self.assertIn("pack05.zip: warning:", out)

    def test_writing_the_resource_script_needs_all_44(self):
        folder = os.path.join(self.dir, "packs")
        os.makedirs(folder)
        for n in range(1, 44):
            shutil.copy(os.path.join(PACKS, "pack%02d.zip" % n), folder)
        rc = os.path.join(self.dir, "packs.rc")
        code, out = validate("--write-rc", rc, folder)
        self.assertEqual(code, 1)
        self.assertIn("pack44.zip: missing", out)
        self.assertFalse(os.path.exists(rc))
        shutil.copy(os.path.join(PACKS, "pack44.zip"), folder)
        self.assertEqual(validate("--write-rc", rc, folder)[0], 0)
        with open(rc) as f:
            self.assertEqual(sum(1 for l in f if "RCDATA" in l), 44)


if __name__ == "__main__":
    PACKS = sys.argv[1]
    del sys.argv[1:2]
    unittest.main(verbosity=2)
