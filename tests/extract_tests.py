#!/usr/bin/env python3
"""ExtractArchive under Wine against archives made by other tools (Info-ZIP zip,
Python's zipfile) and against a corpus of damaged and hostile archives.

usage: extract_tests.py WINE_RUN EXTRACT_CLI
"""
import os
import random
import shutil
import struct
import subprocess
import tempfile
import unittest
import zipfile
import zlib

import wine_script
from wine_script import py_zip, tree, win

RO, HIDDEN, SYSTEM = 0x1, 0x2, 0x4
ANSWERS = ("result", "progress", "second", "locked", "unlocked", "attrib", "attr", "unknown", "failure", "crashed",
           "recovered", "recovery-incomplete", "watching", "held", "unrestored", "killed", "steps", "step")


def run_script(commands):
    """Runs the commands through extract_cli in one Wine process; returns its answer lines."""
    return wine_script.run_script(commands, ANSWERS)


def extract(archive, target, stop_at=None):
    """(result, [(index, count, path)])"""
    cmd = ["extract", win(archive), win(target) if target else ""]
    if stop_at is not None:
        cmd.append(str(stop_at))
    lines = run_script([cmd])
    progress = []
    for l in lines:
        if l.startswith("progress "):
            _, i, n, p = l.split(" ", 3)
            progress.append((int(i), int(n), p))
    return int([l for l in lines if l.startswith("result ")][-1].split()[1]), progress


def failure_of(lines):
    """(kind, relative path) of the last failure line, or None."""
    for l in reversed(lines):
        if l.startswith("failure "):
            _, kind, _, path = (l.split(" ", 3) + [""])[:4]
            return kind, path
    return None


def make_source(root, seed=1):
    """A small HUD-like tree: texts, binary files, an incompressible one, nested folders."""
    rnd = random.Random(seed)
    files = {
        "ClientZips.txt": b"\r\n".join(b"Pack%d.zip" % i for i in range(30)),
        "DATA/Menu/fontconfig_zh_CN.txt": ("[FontConfig]\r\n" * 40).encode(),
        "DATA/Menu/HUD/Elements/Minimap.ini": b"[Minimap]\r\nX=10\r\n" * 20,
        "DATA/Menu/textures/HUDAtlas.dds": b"DDS " + bytes(rnd.getrandbits(8) for _ in range(70000)),
        "DATA/Menu_SC4/big.dds": b"DDS " + bytes(i % 7 for i in range(200000)),
        "DATA/Menu/empty.ini": b"",
    }
    for rel, data in files.items():
        path = os.path.join(root, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    os.makedirs(os.path.join(root, "DATA/Menu_SC4/featured"), exist_ok=True)
    return files


def raw_zip(members):
    """A ZIP built by hand from (name, data, external attributes, stored CRC or None)."""
    local, central, offset = b"", b"", 0
    for name, data, attrs, crc in members:
        name_b = name.encode("latin-1") if isinstance(name, str) else name
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        comp = c.compress(data) + c.flush()
        real_crc = zlib.crc32(data)
        crc = real_crc if crc is None else crc
        head = struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 8, 0x6000, 0x4421, crc, len(comp), len(data),
                           len(name_b), 0)
        local_entry = head + name_b + comp
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 63, 20, 0, 8, 0x6000, 0x4421, crc, len(comp),
                               len(data), len(name_b), 0, 0, 0, 0, attrs, offset) + name_b
        local += local_entry
        offset += len(local_entry)
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central), len(local), 0)
    return local + central + end


def crafted_zip(members):
    """A ZIP built by hand with every field under the test's control. Each member is a
    dict: name (bytes), data, method (8), comp (the compressed bytes; default the real
    deflate or stored data), size (declared uncompressed size), csize (declared
    compressed size), crc, flags, extra_len (local extra length declared), offset
    (central entry's local offset, for members sharing one local entry), attrs, local
    (False: central entry only)."""
    local, central, offsets = b"", b"", []
    for m in members:
        data = m.get("data", b"")
        method = m.get("method", 8)
        if "comp" in m:
            comp = m["comp"]
        elif method == 8:
            c = zlib.compressobj(9, zlib.DEFLATED, -15)
            comp = c.compress(data) + c.flush()
        else:
            comp = data
        crc = m.get("crc", zlib.crc32(data))
        size, csize = m.get("size", len(data)), m.get("csize", len(comp))
        flags, name = m.get("flags", 0), m["name"]
        extra = m.get("extra", b"")
        extra_len = m.get("extra_len", len(extra))
        offset = m.get("offset", len(local))
        if m.get("local", True):
            local += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, flags, method, 0x6000, 0x4421, crc, csize, size,
                                 len(name), extra_len) + name + extra + comp
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, flags, method, 0x6000, 0x4421, crc, csize,
                               size, len(name), 0, 0, 0, 0, m.get("attrs", 0x20), offset) + name
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central), len(local), 0)
    return local + central + end


class Extraction(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="velmora-extract-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *parts):
        return os.path.join(self.dir, *parts)

    def assertNoLeftovers(self, root):
        """No temporary, staged or set-aside file of ours anywhere under root."""
        for dirpath, _, files in os.walk(root):
            for f in files:
                low = f.lower()
                self.assertFalse(low.endswith(".tmp") or ".velmora-" in low,
                                 "leftover: " + os.path.join(dirpath, f))

    assertNoTempFiles = assertNoLeftovers

    # ---- archives made by other tools -------------------------------------------

    def test_info_zip_archives_extract_byte_for_byte(self):
        src = self.path("src")
        make_source(src)
        for flag, name in (("-9", "deflated.zip"), ("-0", "stored.zip")):
            archive = self.path(name)
            subprocess.run(["zip", "-q", "-r", flag, archive, "ClientZips.txt", "DATA"], cwd=src, check=True)
            target = self.path("out-" + name)
            result, progress = extract(archive, target)
            self.assertEqual(result, 1, name)
            self.assertEqual(tree(target), tree(src), name)
            count = len(zipfile.ZipFile(archive).infolist())
            self.assertEqual(progress[-1][:2], (count, count))
            self.assertEqual([p[0] for p in progress[:-1]], list(range(count)))

    def test_python_zipfile_archives_stored_and_deflated(self):
        src = self.path("src")
        files = make_source(src)
        for method in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
            archive = self.path("py%d.zip" % method)
            py_zip(archive, files, method)
            target = self.path("out%d" % method)
            self.assertEqual(extract(archive, target)[0], 1)
            got = {k: v for k, v in tree(target).items() if v is not None}
            self.assertEqual(got, {k.replace("/", os.sep): v for k, v in files.items()})

    def test_file_times_come_from_the_dos_stamp(self):
        archive = self.path("t.zip")
        py_zip(archive, {"a.txt": b"x"})
        target = self.path("out")
        self.assertEqual(extract(archive, target)[0], 1)
        import time
        mtime = time.gmtime(os.path.getmtime(os.path.join(target, "a.txt")))
        # The DOS time is taken as it stands, without a local-to-UTC shift.
        self.assertEqual((mtime.tm_year, mtime.tm_mon, mtime.tm_mday, mtime.tm_hour, mtime.tm_min),
                         (2014, 1, 29, 12, 30))

    # ---- replacing files and folders ----------------------------------------------

    def test_read_only_hidden_and_system_copies_are_replaced_and_normal(self):
        archive = self.path("p.zip")
        py_zip(archive, {"DATA/Menu/a.ini": b"new a", "DATA/Menu/b.dds": b"new b", "DATA/Menu/c.tga": b"new c"})
        target = self.path("Game")
        os.makedirs(os.path.join(target, "DATA/Menu"))
        names = {"a.ini": RO, "b.dds": HIDDEN | RO, "c.tga": SYSTEM}
        cmds = []
        for n, attr in names.items():
            p = os.path.join(target, "DATA/Menu", n)
            with open(p, "wb") as f:
                f.write(b"old content")
            cmds.append(["attrib", win(p), "%x" % attr])
        lines = run_script(cmds)
        self.assertEqual(lines, ["attrib 1"] * 3)
        self.assertEqual(extract(archive, target)[0], 1)
        lines = run_script([["getattr", win(os.path.join(target, "DATA/Menu", n))] for n in names])
        for n, line in zip(names, lines):
            attr = int(line.split()[1], 16)
            # (Wine reports the archive flag on every plain file, so only these are checked.)
            self.assertEqual(attr & (RO | HIDDEN | SYSTEM), 0, n + " " + line)
            with open(os.path.join(target, "DATA/Menu", n), "rb") as f:
                self.assertEqual(f.read(), b"new " + n[0].encode())
        self.assertNoTempFiles(target)

    def test_an_existing_folder_in_another_letter_case_is_reused(self):
        archive = self.path("p.zip")
        py_zip(archive, {"DATA/Menu/a.ini": b"a"})
        target = self.path("Game")
        os.makedirs(os.path.join(target, "Data"))
        self.assertEqual(extract(archive, target)[0], 1)
        self.assertEqual(sorted(os.listdir(target)), ["Data"])
        self.assertEqual(sorted(os.listdir(os.path.join(target, "Data"))), ["Menu"])

    def test_trailing_backslash_and_missing_target_levels(self):
        archive = self.path("p.zip")
        py_zip(archive, {"DATA/a.ini": b"a"})
        target = self.path("x", "y", "Game")
        r1, p1 = extract(archive, target)
        r2, p2 = extract(archive, target + "/")
        self.assertEqual((r1, r2), (1, 1))
        self.assertEqual(p1, p2)
        self.assertTrue(p1[1][2].endswith("\\Game\\DATA\\a.ini"), p1)
        self.assertNotIn("\\\\", p1[1][2])

    def test_gbk_paths_work_under_an_english_locale(self):
        archive = self.path("主题包.zip")
        py_zip(archive, {"DATA/a.ini": b"a"})
        target = self.path("英雄联盟", "Game")
        self.assertEqual(extract(archive, target)[0], 1)
        with open(os.path.join(target, "DATA", "a.ini"), "rb") as f:
            self.assertEqual(f.read(), b"a")

    # ---- results of the walk ------------------------------------------------------

    def test_argument_and_existence_failures(self):
        archive = self.path("p.zip")
        py_zip(archive, {"a.txt": b"a"})
        self.assertEqual(extract(self.path("missing.zip"), self.path("t"))[0], -1)
        self.assertFalse(os.path.exists(self.path("t")))
        lines = run_script([["extract", "", win(self.path("t"))], ["extract", win(archive), ""]])
        self.assertEqual(lines, ["result -1", "result -1"])

    def test_a_damaged_central_entry_fails_the_whole_archive(self):
        members = [("ClientZips.txt", b"list", 0x20, None), ("a.txt", b"a" * 100, 0x20, None),
                   ("b.txt", b"b" * 100, 0x20, None), ("c.txt", b"c", 0x20, None)]
        data = bytearray(raw_zip(members))
        third = data.find(b"PK\x01\x02", data.find(b"PK\x01\x02", data.find(b"PK\x01\x02") + 4) + 4)
        data[third + 1] = ord("X")
        archive = self.path("damaged.zip")
        with open(archive, "wb") as f:
            f.write(data)
        target = self.path("out")
        os.makedirs(target)
        with open(os.path.join(target, "a.txt"), "wb") as f:
            f.write(b"old a")
        result, progress = extract(archive, target)
        # Half a theme is no install: nothing changes.
        self.assertEqual(result, 0)
        self.assertEqual(tree(target), {"a.txt": b"old a"})
        self.assertEqual(progress, [])

    def test_without_directory_members_the_first_file_in_a_missing_folder_fails(self):
        archive = self.path("nodirs.zip")
        py_zip(archive, {"ClientZips.txt": b"x", "DATA/Menu/a.ini": b"a"}, dirs=False)
        target = self.path("out")
        result, progress = extract(archive, target)
        self.assertEqual(result, 0)
        self.assertEqual(os.listdir(target), [])
        self.assertNoTempFiles(target)

    def test_the_observer_can_stop_the_walk(self):
        archive = self.path("p.zip")
        py_zip(archive, {"a.txt": b"a", "b.txt": b"b", "c.txt": b"c"})
        target = self.path("out")
        result, progress = extract(archive, target, stop_at=1)
        self.assertEqual(result, 1)
        self.assertEqual([p[:2] for p in progress], [(0, 3), (1, 3)])
        self.assertEqual(sorted(os.listdir(target)), ["a.txt", "b.txt"])

    def test_a_locked_file_fails_its_member_and_stays_unchanged(self):
        archive = self.path("p.zip")
        py_zip(archive, {"a.txt": b"new"})
        target = self.path("Game")
        os.makedirs(target)
        locked = os.path.join(target, "a.txt")
        with open(locked, "wb") as f:
            f.write(b"held by the client")
        lines = run_script([["lock", win(locked)], ["extract", win(archive), win(target)], ["unlock"]])
        self.assertEqual(lines[0], "locked 1")
        self.assertIn("result 0", lines)
        with open(locked, "rb") as f:
            self.assertEqual(f.read(), b"held by the client")
        self.assertNoTempFiles(target)

    # ---- damaged and hostile archives ---------------------------------------------

    def check_hostile(self, name, data, expected):
        archive = self.path(name)
        with open(archive, "wb") as f:
            f.write(data)
        sandbox = self.path("sandbox-" + name)
        target = os.path.join(sandbox, "deep", "Game")
        os.makedirs(target)
        result, _ = extract(archive, target)
        self.assertIn(result, expected, name)
        # Nothing lands beside or above the target.
        self.assertEqual(sorted(os.listdir(sandbox)), ["deep"], name)
        self.assertEqual(sorted(os.listdir(os.path.join(sandbox, "deep"))), ["Game"], name)
        self.assertNoTempFiles(target)
        return result, target

    def test_names_that_leave_the_target_are_refused(self):
        for i, bad in enumerate(["../evil.txt", "DATA/../../evil.txt", "/abs.txt", "\\abs.txt", "C:evil.txt",
                                 "C:/evil.txt", "a:b.txt", "DATA/..", "x/" + "n" * 300, "DATA\\..\\..\\e.txt",
                                 "...", "a//b.txt"]):
            data = raw_zip([("ok.txt", b"fine", 0x20, None), (bad, b"bad", 0x20, None)])
            result, target = self.check_hostile("hostile%d.zip" % i, data, (0,))
            # Refused before anything was written, the good member too.
            self.assertEqual(os.listdir(target), [], bad)

    def test_a_wrong_crc_fails_and_keeps_the_old_file(self):
        data = raw_zip([("a.dds", b"texture" * 100, 0x20, 0x12345678)])
        archive = self.path("crc.zip")
        with open(archive, "wb") as f:
            f.write(data)
        target = self.path("Game")
        os.makedirs(target)
        with open(os.path.join(target, "a.dds"), "wb") as f:
            f.write(b"the good old texture")
        self.assertEqual(extract(archive, target)[0], 0)
        with open(os.path.join(target, "a.dds"), "rb") as f:
            self.assertEqual(f.read(), b"the good old texture")
        self.assertNoTempFiles(target)

    def test_short_empty_and_unsigned_files_fail_the_pre_check(self):
        end_only = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, 0, 0, 0, 0, 0)
        good = raw_zip([("a.txt", b"a" * 50, 0x20, None)])
        cases = {"empty.zip": b"", "end-only.zip": end_only, "short.zip": good[:31],
                 "signature.zip": b"PK\x05\x06" + good[4:], "text.zip": b"not a zip at all " * 10}
        for name, data in cases.items():
            self.check_hostile(name, data, (0,))

    def test_a_corpus_of_truncated_and_flipped_archives_never_misbehaves(self):
        members = {"ClientZips.txt": b"Aatrox.zip\r\nAzir.zip", "DATA/Menu/a.ini": b"[HUD]\r\n" * 300,
                   "DATA/Menu/textures/HUDAtlas.dds": bytes(random.Random(3).getrandbits(8) for _ in range(3000))}
        good = self.path("good.zip")
        py_zip(good, members)
        with open(good, "rb") as f:
            data = f.read()
        rnd = random.Random(7)
        corpus = {}
        for cut in sorted(set([0, 1, 4, 22, 30, 31, 32, 33, 64] + [rnd.randrange(len(data)) for _ in range(25)] +
                              [len(data) - k for k in (1, 2, 21, 22, 23, 46)])):
            corpus["cut%d.zip" % cut] = data[:cut]
        header_spots = [i for i in range(len(data)) if data[i:i + 2] == b"PK"]
        for n in range(40):
            spot = rnd.choice(header_spots) + rnd.randrange(30) if n % 2 else rnd.randrange(len(data))
            spot = min(spot, len(data) - 1)
            flipped = bytearray(data)
            flipped[spot] ^= 1 << rnd.randrange(8)
            corpus["flip%d-%d.zip" % (n, spot)] = bytes(flipped)

        # One Wine process for the whole corpus.
        cmds, targets = [], {}
        for name, blob in corpus.items():
            archive = self.path(name)
            with open(archive, "wb") as f:
                f.write(blob)
            sandbox = self.path("sandbox-" + name)
            targets[name] = os.path.join(sandbox, "deep", "Game")
            os.makedirs(targets[name])
            cmds.append(["extract", win(archive), win(targets[name])])
        results = [l for l in run_script(cmds) if l.startswith("result ")]
        self.assertEqual(len(results), len(corpus))
        for (name, blob), line in zip(corpus.items(), results):
            result = int(line.split()[1])
            if name.startswith("cut") and len(blob) < len(data) - 2:
                self.assertEqual(result, 0, name)  # no end record, or too short
            elif name.startswith("cut"):
                # Only the comment length is gone: every member is whole and
                # CRC-checked, and minizip reads the archive.
                self.assertIn(result, (0, 1), name)
            else:
                self.assertIn(result, (0, 1), name)
            target = targets[name]
            sandbox = os.path.dirname(os.path.dirname(target))
            self.assertEqual(sorted(os.listdir(sandbox)), ["deep"], name)
            self.assertNoTempFiles(target)
            # All or nothing: a refused archive wrote nothing, an accepted one
            # wrote the true content of every member (a flipped name may
            # still name another file).
            contents = sorted(c for c in tree(target).values() if c is not None)
            self.assertEqual(contents, sorted(members.values()) if result == 1 else [], name)

    # ---- members that must never install wrong bytes ----------------------------

    def write(self, name, data):
        path = self.path(name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def game_with_old_file(self, name="a.dds"):
        target = self.path("Game-" + name)
        os.makedirs(target)
        with open(os.path.join(target, name), "wb") as f:
            f.write(b"the good old texture")
        return target

    def test_members_that_inflate_to_other_bytes_are_refused(self):
        data = bytes(range(256)) * 40
        c = zlib.compressobj(9, zlib.DEFLATED, -15)
        half = c.compress(data[:3000]) + c.flush()
        cases = {
            # A whole deflate stream that ends before the declared size.
            "short-stream": {"comp": half},
            # A compressed size of 0 in both headers.
            "zero-csize": {"csize": 0, "comp": b""},
            # A local extra length that points past the data.
            "extra-past": {"extra_len": 0xFFF0},
            # Method 12, one bit from 8: its raw bytes are not the member.
            "method-12": {"method": 12},
            # More bytes than declared.
            "long-stream": {"size": len(data) - 10},
        }
        cmds, targets = [], {}
        for label, fields in cases.items():
            member = {"name": b"a.dds", "data": data}
            member.update(fields)
            archive = self.write(label + ".zip", crafted_zip([member]))
            targets[label] = self.game_with_old_file()
            os.rename(targets[label], targets[label] + label)
            targets[label] += label
            cmds.append(["extract", win(archive), win(targets[label])])
        results = [l for l in run_script(cmds) if l.startswith("result ")]
        for (label, target), line in zip(targets.items(), results):
            self.assertEqual(line, "result 0", label)
            with open(os.path.join(target, "a.dds"), "rb") as f:
                self.assertEqual(f.read(), b"the good old texture", label)
            self.assertEqual(os.listdir(target), ["a.dds"], label)

    def test_stored_members_and_an_empty_member_still_install(self):
        archive = self.write("ok.zip", crafted_zip([
            {"name": b"s.txt", "data": b"stored bytes", "method": 0},
            {"name": b"e.txt", "data": b"", "method": 0},
            {"name": b"d.txt", "data": b"deflated " * 50}]))
        target = self.path("Game")
        self.assertEqual(extract(archive, target)[0], 1)
        self.assertEqual(tree(target), {"s.txt": b"stored bytes", "e.txt": b"", "d.txt": b"deflated " * 50})

    def test_a_long_member_path_installs_whole_without_leftovers(self):
        # Over MAX_PATH once joined to the target: the name itself stays within 259 bytes.
        folder = "F" * 200 + "/" + "G" * 50
        name = folder + "/a.ini"
        archive = self.write("long.zip", crafted_zip([
            {"name": b"F" * 200 + b"/", "attrs": 0x10, "method": 0},
            {"name": folder.encode() + b"/", "attrs": 0x10, "method": 0},
            {"name": name.encode(), "data": b"long path content" * 10}]))
        target = self.path("Riot Games", "League of Legends", "Game")
        self.assertGreater(len(win(target)) + len(name), 300)
        self.assertEqual(extract(archive, target)[0], 1)
        with open(os.path.join(target, name), "rb") as f:
            self.assertEqual(f.read(), b"long path content" * 10)
        self.assertNoLeftovers(target)

    def test_overlapping_members_are_refused(self):
        data = b"\0" * 20000
        members = [{"name": b"m%02d.dds" % i, "data": data, "offset": 0, "local": i == 0} for i in range(20)]
        archive = self.write("overlap.zip", crafted_zip(members))
        target = self.path("Game")
        self.assertEqual(extract(archive, target)[0], 0)
        self.assertEqual(tree(target), {})

    def test_a_member_far_larger_than_its_archive_is_refused(self):
        archive = self.write("bomb.zip", crafted_zip([{"name": b"bomb.dds", "data": bytes(30 << 20)}]))
        self.assertLess(os.path.getsize(archive), 100000)
        target = self.path("Game")
        self.assertEqual(extract(archive, target)[0], 0)
        self.assertEqual(tree(target), {})

    def test_names_are_checked_as_they_will_be_written(self):
        bad = [b"vfz\x81/x", b"DATA/\xff\xff.ini", b"a./b.txt", b"a /b.txt", b"b.txt.", b"b.txt ",
               b"CON", b"con.txt", b"DATA/aux.ini", b"DATA/Nul", b"COM1.dds", b"lpt9.x", b"CLOCK$",
               b"DATA/conin$", b"CONOUT$.txt", b"prn/a.txt"]
        cmds, targets = [], []
        for i, name in enumerate(bad):
            archive = self.write("bad%d.zip" % i, crafted_zip([{"name": b"ok.txt", "data": b"fine"},
                                                                {"name": name, "data": b"bad"}]))
            target = self.path("sandbox%d" % i, "Game")
            os.makedirs(target)
            targets.append(target)
            cmds.append(["extract", win(archive), win(target)])
        results = [l for l in run_script(cmds) if l.startswith("result ")]
        for name, target, line in zip(bad, targets, results):
            self.assertEqual(line, "result 0", name)
            self.assertEqual(os.listdir(os.path.dirname(target)), ["Game"], name)
            self.assertEqual(os.listdir(target), [], name)

    def test_gbk_and_utf8_names_land_as_they_read(self):
        # 0x5C is the second byte of 乗: it is no separator.
        archive = self.write("names.zip", crafted_zip([
            {"name": "乗/".encode("gbk"), "attrs": 0x10, "method": 0},
            {"name": "乗/表.ini".encode("gbk"), "data": b"gbk"},
            {"name": "联盟.txt".encode("utf-8"), "data": b"utf8", "flags": 0x800},
            {"name": "COM10.txt".encode(), "data": b"not a device"}]))
        target = self.path("Game")
        self.assertEqual(extract(archive, target)[0], 1)
        self.assertEqual(tree(target), {"乗": None, os.path.join("乗", "表.ini"): b"gbk", "联盟.txt": b"utf8",
                                        "COM10.txt": b"not a device"})

    def test_a_target_ending_in_a_gbk_character_with_a_backslash_byte(self):
        archive = self.write("p.zip", crafted_zip([{"name": b"a.ini", "data": b"inside"}]))
        parent = self.path("parent")
        target = os.path.join(parent, "乗")
        self.assertEqual(extract(archive, target)[0], 1)
        self.assertEqual(tree(parent), {"乗": None, os.path.join("乗", "a.ini"): b"inside"})

    # ---- all or nothing -------------------------------------------------------------

    def old_game(self, name="Game"):
        """A game folder holding an older copy of every member, one read-only, plus a file of its own."""
        target = self.path(name)
        src = {"ClientZips.txt": b"old list", "DATA/Menu/a.ini": b"old a", "DATA/Menu/HUD/b.dds": b"old b" * 50,
               "DATA/Menu/HUD/c.tga": b"old c", "DATA/Menu/own.txt": b"the player's"}
        for rel, data in src.items():
            path = os.path.join(target, rel)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        run_script([["attrib", win(os.path.join(target, "DATA/Menu/a.ini")), "1"]])
        return target

    def new_pack(self, name="pack.zip"):
        """The new theme: members over the old files, new ones, and a new folder."""
        archive = self.path(name)
        py_zip(archive, {"ClientZips.txt": b"new list", "DATA/Menu/a.ini": b"new a" * 30,
                         "DATA/Menu/HUD/b.dds": bytes(range(256)) * 300, "DATA/Menu/HUD/c.tga": b"new c",
                         "DATA/Menu/New/d.ini": b"new d", "DATA/Menu/HUD/e.dds": b"new e" * 1000})
        return archive

    def test_a_file_held_open_fails_the_whole_install_and_changes_nothing(self):
        target = self.old_game()
        before = tree(target)
        held = os.path.join(target, "DATA/Menu/HUD/c.tga")  # after others in the archive's order
        lines = run_script([["lock", win(held)], ["extract", win(self.new_pack()), win(target)], ["unlock"]])
        self.assertIn("result 0", lines)
        self.assertEqual(failure_of(lines), ("in-use", "DATA\\Menu\\HUD\\c.tga"))
        self.assertEqual(tree(target), before)
        self.assertNoLeftovers(target)
        # The read-only original is still read-only.
        self.assertEqual(int(run_script([["getattr", win(os.path.join(target, "DATA/Menu/a.ini"))]])[0].split()[1], 16) & RO, RO)

    def test_a_rolled_back_install_gives_a_players_file_back_its_own_letter_case(self):
        target = self.path("Game")
        for rel in ("DATA/Menu/A.INI", "DATA/Menu/z.ini"):
            os.makedirs(os.path.dirname(os.path.join(target, rel)), exist_ok=True)
            with open(os.path.join(target, rel), "wb") as f:
                f.write(b"the player's " + rel.encode())
        before = tree(target)
        archive = self.path("case.zip")
        py_zip(archive, {"DATA/Menu/a.ini": b"new a", "DATA/Menu/z.ini": b"new z"})
        # a.ini is set aside before z.ini, which is held: the swap rolls back.
        lines = run_script([["lock", win(os.path.join(target, "DATA/Menu/z.ini"))],
                            ["extract", win(archive), win(target)], ["unlock"]])
        self.assertIn("result 0", lines)
        self.assertEqual(sorted(tree(target)), sorted(before))
        self.assertEqual(tree(target), before)

    def test_a_damaged_last_member_changes_nothing(self):
        target = self.old_game()
        before = tree(target)
        members = [("ClientZips.txt", b"new list", 0x20, None), ("DATA/", b"", 0x10, None),
                   ("DATA/Menu/", b"", 0x10, None), ("DATA/Menu/a.ini", b"new a", 0x20, None),
                   ("DATA/Menu/z.ini", b"new z" * 20, 0x20, 0xDEADBEEF)]
        archive = self.write("crc-last.zip", raw_zip(members))
        lines = run_script([["extract", win(archive), win(target)]])
        self.assertIn("result 0", lines)
        self.assertEqual(failure_of(lines), ("damaged", "DATA\\Menu\\z.ini"))
        self.assertEqual(tree(target), before)
        self.assertNoLeftovers(target)

    def test_a_protected_folder_is_reported_as_access_denied_and_changes_nothing(self):
        target = self.old_game()
        hud = os.path.join(target, "DATA/Menu/HUD")
        if subprocess.run(["chattr", "+i", hud], capture_output=True).returncode != 0:
            self.skipTest("this file system cannot protect a folder")
        try:
            before = tree(target)
            lines = run_script([["extract", win(self.new_pack()), win(target)]])
        finally:
            subprocess.run(["chattr", "-i", hud])
        self.assertIn("result 0", lines)
        self.assertEqual(failure_of(lines)[0], "access-denied")
        self.assertTrue(failure_of(lines)[1].startswith("DATA\\Menu\\HUD\\"), lines)
        self.assertEqual(tree(target), before)
        self.assertNoLeftovers(target)

    def test_a_full_disk_is_reported_and_changes_nothing(self):
        disk = self.path("small-disk")
        os.makedirs(disk)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", disk], capture_output=True).returncode:
            self.skipTest("no small file system can be mounted here")
        try:
            target = os.path.join(disk, "Game")
            os.makedirs(os.path.join(target, "DATA", "Menu"))
            with open(os.path.join(target, "DATA", "Menu", "a.ini"), "wb") as f:
                f.write(b"old a")
            before = tree(target)
            archive = self.path("big.zip")
            py_zip(archive, {"DATA/Menu/a.ini": b"new a", "DATA/Menu/big.dds": os.urandom(400 << 10)})
            lines = run_script([["extract", win(archive), win(target)]])
            self.assertIn("result 0", lines)
            self.assertEqual(failure_of(lines), ("disk-full", "DATA\\Menu\\big.dds"), lines)
            self.assertEqual(tree(target), before)
            self.assertNoLeftovers(target)
        finally:
            subprocess.run(["umount", disk])

    def test_a_crash_at_any_point_of_the_swap_is_rolled_back_by_the_next_run(self):
        archive = self.new_pack()
        # Six files over four old ones: up to ten renames.
        for k in range(1, 11):
            target = self.old_game("Game%d" % k)
            before = tree(target)
            lines = run_script([["crash", win(archive), win(target), str(k)]])
            self.assertEqual(lines, ["crashed after %d" % k], k)
            self.assertNotEqual(tree(target), before, k)  # the swap had begun
            self.assertEqual(run_script([["recover", win(target)]]), ["recovered"])
            self.assertEqual(tree(target), before, k)
            self.assertNoLeftovers(target)
        # The next install recovers by itself, then lands whole.
        target = self.old_game("GameNext")
        run_script([["crash", win(archive), win(target), "3"]])
        self.assertEqual(extract(archive, target)[0], 1)
        got = tree(target)
        self.assertEqual(got[os.path.join("DATA", "Menu", "New", "d.ini")], b"new d")
        self.assertEqual(got[os.path.join("DATA", "Menu", "own.txt")], b"the player's")
        self.assertNoLeftovers(target)

    def test_an_install_never_starts_over_a_crash_it_could_not_undo(self):
        archive = self.new_pack()
        target = self.old_game()
        before = tree(target)
        self.assertEqual(run_script([["crash", win(archive), win(target), "3"]]), ["crashed after 3"])
        # A set-aside original that cannot be put back yet: held open, as a client would.
        aside = [os.path.join(d, f) for d, _, fs in os.walk(target) for f in fs if f.endswith(".velmora-old")]
        self.assertEqual(len(aside), 2)  # ClientZips.txt's and a.ini's
        lines = run_script([["lock", win(aside[0])], ["extract", win(archive), win(target)], ["unlock"]])
        # The new install refuses: its journal would forget where the original went.
        # It names the game file that waits for its original, not the journal.
        self.assertIn("result 0", lines)
        self.assertEqual(failure_of(lines), ("unfinished", os.path.relpath(aside[0][:-len(".velmora-old")], target)
                                             .replace("/", "\\")))
        self.assertTrue(os.path.exists(os.path.join(target, "velmora-install.velmora-journal")))
        self.assertTrue(os.path.exists(aside[0]))
        # Once free, the next run puts everything back.
        self.assertEqual(run_script([["recover", win(target)]]), ["recovered"])
        self.assertEqual(tree(target), before)
        self.assertNoLeftovers(target)

    # ---- leftovers this run did not make, and files held while it is undone ----

    def test_a_stale_set_aside_copy_beside_a_players_file_is_never_installed_nor_deleted(self):
        """By its name an original whose journal was lost: the install refuses and names it, and changes nothing;
        once it is moved away, the install lands."""
        target = self.old_game()
        stale = os.path.join(target, "ClientZips.txt.velmora-old")
        with open(stale, "wb") as f:
            f.write(b"stale bytes from a lost run")
        before = tree(target)
        lines = run_script([["extract", win(self.new_pack()), win(target)]])
        self.assertIn("result 0", lines)
        self.assertEqual(failure_of(lines), ("stray-original", "ClientZips.txt.velmora-old"))
        self.assertEqual(tree(target), before)
        os.remove(stale)
        self.assertEqual(extract(self.new_pack(), target)[0], 1)
        self.assertEqual(tree(target)["ClientZips.txt"], b"new list")
        self.assertNoLeftovers(target)

    def test_hidden_read_only_and_system_leftovers_are_removed_not_taken_for_a_protected_folder(self):
        target = self.old_game()
        # (A ".velmora-old" where nothing else stands is an original: it goes back under its name first.)
        leftovers = {"DATA/Menu/a.ini.velmora-new": "3", "DATA/Menu/HUD/b.dds.velmora-new": "6",
                     "ClientZips.txt.velmora-new": "7", "DATA/Menu/HUD/e.dds.velmora-old": "2"}
        for rel in leftovers:
            with open(os.path.join(target, rel), "wb") as f:
                f.write(b"left by someone else")
        run_script([["attrib", win(os.path.join(target, rel)), a] for rel, a in leftovers.items()])
        lines = run_script([["extract", win(self.new_pack()), win(target)]])
        self.assertIn("result 1", lines)
        got = tree(target)
        self.assertEqual(got[os.path.join("DATA", "Menu", "HUD", "b.dds")], bytes(range(256)) * 300)
        self.assertEqual(got[os.path.join("DATA", "Menu", "HUD", "e.dds")], b"new e" * 1000)
        self.assertNoLeftovers(target)

    def test_a_leftover_that_cannot_be_removed_refuses_the_install_and_is_named(self):
        target = self.old_game()
        stale = os.path.join(target, "ClientZips.txt.velmora-old")
        with open(stale, "wb") as f:
            f.write(b"held stale bytes")
        before = tree(target)
        lines = run_script([["lock", win(stale)], ["extract", win(self.new_pack()), win(target)], ["unlock"]])
        self.assertIn("result 0", lines)
        self.assertEqual(failure_of(lines), ("stray-original", "ClientZips.txt.velmora-old"))
        self.assertEqual(tree(target), before)
        # A staged copy that cannot be removed is named the same way.
        os.remove(stale)
        stale = os.path.join(target, "ClientZips.txt.velmora-new")
        with open(stale, "wb") as f:
            f.write(b"held stale bytes")
        before = tree(target)
        lines = run_script([["lock", win(stale)], ["extract", win(self.new_pack()), win(target)], ["unlock"]])
        self.assertIn("result 0", lines)
        self.assertEqual(failure_of(lines), ("in-use", "ClientZips.txt.velmora-new"))
        self.assertEqual(tree(target), before)

    def test_a_journal_held_by_a_reader_during_recovery_loses_no_original(self):
        archive = self.new_pack()
        for k in (1, 2, 3, 5, 8):
            target = self.old_game("Game%d" % k)
            before = tree(target)
            self.assertEqual(run_script([["crash", win(archive), win(target), str(k)]]), ["crashed after %d" % k])
            journal = os.path.join(target, "velmora-install.velmora-journal")
            # A virus scanner reads the journal, sharing reads only, while the recovery runs.
            lines = run_script([["lockread", win(journal)], ["recover", win(target)], ["unlock"]])
            self.assertEqual(lines[0], "locked 1", k)
            self.assertEqual(run_script([["recover", win(target)]]), ["recovered"], k)
            self.assertEqual(tree(target), before, k)
            self.assertNoLeftovers(target)

    def test_an_original_held_while_the_install_is_undone_is_put_back_by_the_next_recovery(self):
        target = self.old_game()
        before = tree(target)
        # c.tga fails the swap; the game takes hold of the set-aside ClientZips.txt
        # the moment it appears, so the roll-back cannot put it back.
        lines = run_script([["lock", win(os.path.join(target, "DATA/Menu/HUD/c.tga"))],
                            ["holdwhen", win(os.path.join(target, "ClientZips.txt.velmora-old"))],
                            ["extract", win(self.new_pack()), win(target)], ["unlock"]])
        self.assertIn("result 0", lines)
        self.assertIn("held " + win(os.path.join(target, "ClientZips.txt.velmora-old")), lines)
        self.assertEqual(failure_of(lines), ("in-use", "DATA\\Menu\\HUD\\c.tga"))
        self.assertIn("unrestored in-use ClientZips.txt", lines)
        self.assertTrue(os.path.exists(os.path.join(target, "velmora-install.velmora-journal")))
        # Nothing but our own names stand in for the held original meanwhile.
        self.assertEqual(tree(target).get("ClientZips.txt.velmora-old"), b"old list")
        for k in range(2):  # again after a whole recovery: nothing more happens
            self.assertEqual(run_script([["recover", win(target)]]), ["recovered"])
            self.assertEqual(tree(target), before)
            self.assertNoLeftovers(target)

    def test_a_scanner_reading_each_new_file_as_it_is_closed_only_delays_the_install(self):
        # A virus scanner opens every new file the moment it can, sharing everything, for a while.
        archive = self.small_pack()
        target = self.small_game("Game")
        staged = os.path.join(target, "wzCAFG.ZIP.velmora-new")
        lines = run_script([["scanwhen", win(staged), "300"], ["scanwhen", win(os.path.join(target, "DATA/Menu/a.ini.velmora-new")), "300"],
                            ["install", win(archive), win(target)], ["unlock"]])
        self.assertIn("held " + win(staged), lines)
        self.assertIn("result 1", lines)
        with open(archive, "rb") as f:
            self.assertEqual(tree(target)["wzCAFG.ZIP"], f.read())
        self.assertEqual(tree(target)[os.path.join("DATA", "Menu", "a.ini")], b"new a" * 30)
        self.assertNoLeftovers(target)

    # ---- a kill at every step ------------------------------------------------------

    def small_game(self, name):
        """A Game folder with two old files (one read-only), an old pack archive and a file of the player's."""
        target = self.path(name)
        for rel, data in {"ClientZips.txt": b"old list", "DATA/Menu/a.ini": b"old a", "wzCAFG.ZIP": b"old archive",
                          "DATA/Menu/own.txt": b"the player's"}.items():
            os.makedirs(os.path.dirname(os.path.join(target, rel)), exist_ok=True)
            with open(os.path.join(target, rel), "wb") as f:
                f.write(data)
        run_script([["attrib", win(os.path.join(target, "DATA/Menu/a.ini")), "1"]])
        return target

    def small_pack(self):
        """Two files over old ones and one in a new folder; installed as the program installs a pack."""
        archive = self.path("small.zip")
        py_zip(archive, {"ClientZips.txt": b"new list", "DATA/Menu/a.ini": b"new a" * 30,
                         "DATA/Menu/New/d.ini": b"new d"})
        return archive

    def test_a_kill_at_any_step_of_an_install_and_of_its_recovery_leaves_the_old_or_the_new_tree(self):
        archive = self.small_pack()
        base = self.small_game("Base")
        old = tree(base)
        whole = self.path("Whole")
        shutil.copytree(base, whole)
        lines = run_script([["count"], ["trace"], ["install", win(archive), win(whole)]])
        self.assertIn("result 1", lines)
        total = int([l for l in lines if l.startswith("steps ")][0].split()[1])
        kinds = [l.split()[2] for l in lines if l.startswith("step ")]
        self.assertEqual(len(kinds), total)
        for kind in ("create", "write", "flush", "rename", "delete", "mkdir", "journal", "done"):
            self.assertIn(kind, kinds)
        done_at = kinds.index("done") + 1
        new = tree(whole)
        self.assertNotEqual(new, old)
        self.assertNoLeftovers(whole)
        for k in range(1, total + 1):
            state = self.path("k%d" % k)
            shutil.copytree(base, state)
            self.assertEqual(run_script([["killat", str(k)], ["install", win(archive), win(state)]]),
                             ["killed at %d" % k])
            # Killed before DONE was written: the old tree; after it: the new one.
            expected = old if k <= done_at else new
            probe = state + "-whole"
            shutil.copytree(state, probe)
            lines = run_script([["count"], ["recover", win(probe)]])
            self.assertIn("recovered", lines, k)
            recovery_steps = int([l for l in lines if l.startswith("steps ")][0].split()[1])
            self.assertEqual(tree(probe), expected, k)
            copies = []
            for j in range(1, recovery_steps + 1):
                copy = "%s-r%d" % (state, j)
                shutil.copytree(state, copy)
                self.assertEqual(run_script([["killat", str(j)], ["recover", win(copy)]]), ["killed at %d" % j])
                copies.append(copy)
            # Every recovery cut short is finished by the next.
            self.assertEqual(run_script([["recover", win(c)] for c in copies]), ["recovered"] * len(copies), k)
            for j, copy in enumerate(copies, 1):
                self.assertEqual(tree(copy), expected, (k, j))
                self.assertNoLeftovers(copy)

    def test_a_second_instance_recovering_during_an_install_or_its_roll_back_loses_nothing(self):
        """A second start (an elevated one, or one that gave up waiting) recovers while an install still runs."""
        archive = self.small_pack()
        old = tree(self.small_game("Base"))
        whole = self.small_game("Whole")
        self.assertIn("result 1", run_script([["install", win(archive), win(whole)]]))
        new = tree(whole)
        for held in (False, True):  # a swap that lands; one that a held wzCAFG.ZIP rolls back
            probe = self.small_game("Probe%d" % held)
            lock = [["lock", win(os.path.join(probe, "wzCAFG.ZIP"))]] if held else []
            lines = run_script([["trace"]] + lock + [["install", win(archive), win(probe)], ["unlock"]])
            steps = [l.split() for l in lines if l.startswith("step ")]
            first = [int(s[1]) for s in steps if s[2] == "rename"][0]
            # Every step from the first rename on, and the journal's last lines.
            for k in range(first - 1, len(steps) + 1):
                target = self.small_game("G%d-%d" % (held, k))
                lock = [["lock", win(os.path.join(target, "wzCAFG.ZIP"))]] if held else []
                lines = run_script([["recoverat", str(k), win(target)]] + lock +
                                   [["install", win(archive), win(target)], ["unlock"]])
                result = [l for l in lines if l.startswith("result ")]
                self.assertEqual(run_script([["recover", win(target)]]), ["recovered"], (held, k))
                # What the install said is what stands: the new tree, or the old one whole.
                self.assertEqual(tree(target), new if result == ["result 1"] else old, (held, k, lines))
                self.assertNoLeftovers(target)

    def test_an_install_never_writes_over_a_journal_that_appears_before_its_own(self):
        """Another instance's install starts its journal between this one's recovery and its own journal: this
        one refuses and leaves that journal as it is (its owner would delete ours when it ends)."""
        archive = self.small_pack()
        probe = self.small_game("Probe")
        lines = run_script([["trace"], ["install", win(archive), win(probe)]])
        create_at = [int(l.split()[1]) for l in lines
                     if l.startswith("step ") and l.split()[2] == "create" and l.endswith("velmora-journal")][0]
        target = self.small_game("Target")
        before = tree(target)
        journal = os.path.join(target, "velmora-install.velmora-journal")
        lines = run_script([["makeat", str(create_at), win(journal)], ["install", win(archive), win(target)]])
        self.assertIn("result 0", lines)
        # Its staged pack archive stays too: in that race the name is the other install's as well.
        got = tree(target)
        got.pop("wzCAFG.ZIP.velmora-new", None)
        self.assertEqual(got, dict(before, **{"velmora-install.velmora-journal": b"the player's"}))

    def test_a_journal_a_scanner_still_holds_once_its_recovery_deleted_it_is_never_written_over(self):
        """A scanner reading a crash's journal keeps it on disk, delete pending, past the recovery that deleted it.
        An install then killed at any step leaves, after the next recovery, the old tree or the new one."""
        archive = self.small_pack()
        clean = self.small_game("Clean")
        old = tree(clean)
        self.assertIn("result 1", run_script([["install", win(archive), win(clean)]]))
        new = tree(clean)
        base = self.small_game("Base")
        self.assertEqual(run_script([["crash", win(archive), win(base), "1"]]), ["crashed after 1"])

        def scanned(state, *commands):
            journal = os.path.join(state, "velmora-install.velmora-journal")
            return run_script([["scanwhen", win(journal), "300"]] + list(commands) + [["unlock"]])

        whole = self.path("Whole")
        shutil.copytree(base, whole)
        lines = scanned(whole, ["trace"], ["install", win(archive), win(whole)])
        steps = len([l for l in lines if l.startswith("step ")])
        self.assertEqual(run_script([["recover", win(whole)]]), ["recovered"])
        self.assertEqual(tree(whole), new if "result 1" in lines else old, lines)
        for k in range(1, steps + 1):
            state = self.path("Scanned%d" % k)
            shutil.copytree(base, state)
            # On a busy machine the scanner may let go earlier, and the install run longer or shorter than the
            # probe: only what the recovery leaves counts.
            scanned(state, ["killat", str(k)], ["install", win(archive), win(state)])
            self.assertEqual(run_script([["recover", win(state)]]), ["recovered"], k)
            self.assertIn(tree(state), (old, new), k)
            self.assertNoLeftovers(state)

    def test_a_file_that_appears_where_none_stood_during_an_install_survives_any_kill(self):
        archive = self.small_pack()
        base = self.small_game("Base")
        os.unlink(os.path.join(base, "wzCAFG.ZIP"))
        pack = os.path.join(base, "wzCAFG.ZIP")
        # The game writes its own wzCAFG.ZIP once every member is staged: the swap cannot land.
        probe = self.path("Probe")
        shutil.copytree(base, probe)
        lines = run_script([["trace"], ["install", win(archive), win(probe)]])
        make_at = [int(l.split()[1]) for l in lines if l.startswith("step ") and l.split()[2] == "flush"][0]
        shutil.rmtree(probe)
        shutil.copytree(base, probe)
        lines = run_script([["trace"], ["makeat", str(make_at), win(os.path.join(probe, "wzCAFG.ZIP"))],
                            ["install", win(archive), win(probe)]])
        self.assertEqual(failure_of(lines), ("other", "wzCAFG.ZIP"))
        steps = [l for l in lines if l.startswith("step ")]
        expected = dict(tree(base), **{"wzCAFG.ZIP": b"the player's"})
        for k in range(make_at, len(steps) + 2):
            target = self.path("G%d" % k)
            shutil.copytree(base, target)
            run_script([["makeat", str(make_at), win(pack.replace(base, target))], ["killat", str(k)],
                        ["install", win(archive), win(target)]])
            for _ in range(2):
                self.assertEqual(run_script([["recover", win(target)]]), ["recovered"], k)
                self.assertEqual(tree(target), expected, k)
                self.assertNoLeftovers(target)

    def test_a_full_disk_when_done_is_written_rolls_back_whole_and_says_so(self):
        archive = self.small_pack()
        target = self.small_game("Game")
        before = tree(target)
        # From DONE on the disk stays full: the roll-back has no room to write anything either.
        lines = run_script([["diskfullat", "done"], ["install", win(archive), win(target)]])
        self.assertIn("result 0", lines)
        self.assertEqual(failure_of(lines), ("disk-full", "velmora-install.velmora-journal"))
        self.assertEqual([l for l in lines if l.startswith("unrestored")], [])
        self.assertEqual(tree(target), before)
        self.assertNoLeftovers(target)
        # Again, with recoveries after it: nothing is lost later either.
        self.assertEqual(run_script([["recover", win(target)]]), ["recovered"])
        self.assertEqual(tree(target), before)
        # The same with no room for any journal line after the first: nothing was renamed yet.
        lines = run_script([["fail", "journal", "112"], ["install", win(archive), win(target)]])
        self.assertEqual(failure_of(lines), ("disk-full", "velmora-install.velmora-journal"))
        self.assertEqual(tree(target), before)
        self.assertNoLeftovers(target)

    def test_a_whole_install_leaves_no_journal_and_the_players_own_files(self):
        target = self.old_game()
        self.assertEqual(extract(self.new_pack(), target)[0], 1)
        got = tree(target)
        self.assertEqual(got[os.path.join("DATA", "Menu", "a.ini")], b"new a" * 30)
        self.assertEqual(got[os.path.join("DATA", "Menu", "own.txt")], b"the player's")
        self.assertNoLeftovers(target)


if __name__ == "__main__":
    wine_script.take_arguments()
    unittest.main(verbosity=2)
