#!/usr/bin/env python3
"""Reads the 44 theme packs back out of Velmora.exe and checks each against
the catalogue: members, folders, letter case, ClientZips.txt, shared and
per-theme files, texture formats and the ZIP details.

usage: pack_tests.py VELMORA_EXE
"""
import hashlib
import io
import struct
import sys
import unittest
import zipfile

EXE = None

# order: (archive bytes, folders, files, top folder, ClientZips form)
CATALOGUE = {
    1: (2648818, 6, 23, "DATA", "A"), 2: (2503656, 4, 20, "Data", "A"), 3: (1860703, 9, 194, "DATA", "B"),
    4: (1463048, 4, 19, "Data", "B"), 5: (697005, 4, 3, "Data", "B"), 6: (717858, 4, 3, "Data", "B"),
    7: (1879432, 4, 28, "Data", "B"), 8: (676383, 5, 6, "DATA", "B"), 9: (671932, 5, 6, "DATA", "B"),
    10: (774043, 6, 10, "DATA", "B"), 11: (644080, 3, 3, "Data", "B"), 12: (677387, 3, 3, "Data", "B"),
    13: (628088, 6, 9, "DATA", "B"), 14: (1848084, 6, 22, "DATA", "B"), 15: (637065, 6, 40, "Data", "B"),
    16: (665667, 3, 3, "Data", "B"), 17: (725692, 5, 6, "Data", "B"), 18: (813633, 6, 10, "DATA", "B"),
    19: (702802, 3, 3, "Data", "B"), 20: (649118, 3, 3, "Data", "B"), 21: (657560, 3, 3, "Data", "B"),
    22: (690631, 3, 3, "Data", "B"), 23: (701977, 3, 3, "Data", "B"), 24: (672658, 3, 3, "Data", "B"),
    25: (703234, 3, 3, "Data", "B"), 26: (739978, 3, 3, "Data", "B"), 27: (691108, 3, 3, "Data", "B"),
    28: (667310, 3, 3, "Data", "B"), 29: (1103256, 6, 22, "DATA", "B"), 30: (676251, 3, 3, "Data", "B"),
    31: (694765, 3, 3, "data", "B"), 32: (703777, 3, 3, "Data", "B"), 33: (651422, 3, 3, "data", "B"),
    34: (669550, 3, 3, "data", "B"), 35: (643599, 3, 3, "data", "B"), 36: (648436, 3, 3, "data", "B"),
    37: (692696, 3, 3, "data", "B"), 38: (686471, 3, 3, "data", "B"), 39: (678025, 3, 3, "data", "B"),
    40: (681287, 3, 3, "data", "B"), 41: (553498, 5, 30, "DATA", "B"), 42: (667686, 3, 3, "DATA", "B"),
    43: (811069, 5, 42, "DATA", "B"), 44: (802477, 5, 42, "DATA", "B"),
}
# Beyond the three common files: (folder below the top folder, lower case) -> (.ini, .dds, .tga)
EXTRAS = {
    1: {"menu/hud/elements": (2, 0, 0), "menu/textures": (0, 1, 2), "menu_sc4": (0, 15, 0)},
    2: {"menu/textures": (0, 0, 1), "menu_sc4": (0, 16, 0)},
    3: {"menu/hud": (16, 0, 0), "menu/hud/elements": (115, 0, 0), "menu/hud/defaults": (17, 0, 0),
        "menu/textures": (0, None, None), "menu_sc4": (0, 36, 1)},
    4: {"menu_sc4": (0, 16, 0)}, 7: {"menu_sc4": (0, 25, 0)},
    8: {"menu/hud/elements": (3, 0, 0)}, 9: {"menu/hud/elements": (3, 0, 0)},
    10: {"menu/hud/elements": (3, 0, 0), "menu_sc4": (0, 3, 1)},
    13: {"menu/hud/elements": (3, 0, 0), "menu_sc4": (0, 3, 0)},
    14: {"menu/hud/elements": (3, 0, 0), "menu/textures": (0, 1, 0), "menu_sc4": (0, 15, 0)},
    15: {"menu/hud/elements": (34, 0, 0), "menu_sc4": (0, 3, 0)},
    17: {"menu/hud/elements": (3, 0, 0)}, 18: {"menu/hud/elements": (2, 0, 0), "menu_sc4": (0, 5, 0)},
    29: {"menu/hud/elements": (5, 0, 0), "menu_sc4": (0, 14, 0)},
    41: {"menu/hud/elements": (27, 0, 0)}, 43: {"menu/hud/elements": (39, 0, 0)},
    44: {"menu/hud/elements": (39, 0, 0)},
}
FOLDERS = {"", "menu", "menu/hud", "menu/hud/defaults", "menu/hud/elements", "menu/textures", "menu_sc4",
           "menu_sc4/announcements", "menu_sc4/featured"}
FORM_B_NAMES = ["Aatrox.zip", "Azir.zip", "CharacterAnimations.zip", "CharacterAnimations1.zip",
                "CharacterAnimations2.zip", "CharacterAnimations3.zip", "CharacterAnimations4.zip", "Characters.zip",
                "CharacterSkins.zip", "CharacterSkins1.zip", "CharacterTextures.zip"] + \
               ["CharacterTextures%d.zip" % i for i in range(1, 8)] + \
               ["Datas.zip", "Datas1.zip", "Datas2.zip", "Jinx.zip", "Loading.zip", "Lucian.zip", "Particles.zip",
                "ParticleTextrues.zip", "ParticleTextrues1.zip", "ParticleTextrues2.zip", "ParticleTextrues3.zip",
                "Yasuo.zip"]


def rcdata_resources(path, kind=10):
    """{name: bytes} of the RT_RCDATA resources of a PE32 file (or of the PE32+
    file of a 64-bit test build)."""
    with open(path, "rb") as f:
        pe = f.read()
    at = struct.unpack_from("<I", pe, 0x3C)[0]
    assert pe[at:at + 4] == b"PE\0\0"
    sections, optional_size = struct.unpack_from("<H", pe, at + 6)[0], struct.unpack_from("<H", pe, at + 20)[0]
    optional = at + 24
    magic = struct.unpack_from("<H", pe, optional)[0]
    assert magic in (0x10B, 0x20B), "a PE image"
    directories = optional + (96 if magic == 0x10B else 112)
    res_rva = struct.unpack_from("<I", pe, directories + 2 * 8)[0]
    table = optional + optional_size
    spans = [struct.unpack_from("<IIII", pe, table + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for vsize, vaddr, rawsize, rawptr in spans:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rawptr + rva - vaddr
        raise ValueError(rva)

    base = offset(res_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", pe, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", pe, base + directory + 16 + 8 * i)
            if name & 0x80000000:
                n = struct.unpack_from("<H", pe, base + (name & 0x7FFFFFFF))[0]
                s = base + (name & 0x7FFFFFFF) + 2
                name = pe[s:s + 2 * n].decode("utf-16-le")
            yield name, target

    out = {}
    for kind_id, sub in entries(0):
        if kind_id != kind:
            continue
        for name, langs in entries(sub & 0x7FFFFFFF):
            for _, leaf in entries(langs & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", pe, base + leaf)
                out[name] = pe[offset(rva):offset(rva) + size]
    return out


def central_entries(data):
    """The raw central-directory records and the end record."""
    end = data[-22:]
    sig, _, _, _, count, size, start, comment = struct.unpack("<IHHHHIIH", end)
    assert sig == 0x06054B50 and comment == 0
    records, at = [], start
    for _ in range(count):
        fields = struct.unpack_from("<IHHHHHHIIIHHHHHII", data, at)
        name_len, extra_len, comment_len = fields[10], fields[11], fields[12]
        name = data[at + 46:at + 46 + name_len].decode("ascii")
        records.append((name, fields))
        at += 46 + name_len + extra_len + comment_len
    assert at == start + size == len(data) - 22
    return records


class Packs(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        resources = rcdata_resources(EXE)
        cls.packs = {n: resources.get("PACK%02d" % n) for n in range(1, 45)}

    def test_all_44_are_embedded_in_catalogue_order_at_their_sizes(self):
        total = 0
        for n, (size, _, _, _, _) in CATALOGUE.items():
            data = self.packs[n]
            self.assertIsNotNone(data, n)
            self.assertLessEqual(abs(len(data) - size), size * 0.05, n)
            total += len(data)
        self.assertLessEqual(abs(total - 38773215), 38773215 * 0.05)

    def test_members_folders_and_letter_case(self):
        atlases, fonts = set(), set()
        for n, (_, dirs, files, top, form) in CATALOGUE.items():
            z = zipfile.ZipFile(io.BytesIO(self.packs[n]))
            infos = z.infolist()
            names = [i.filename for i in infos]
            self.assertEqual(names[0], "ClientZips.txt", n)
            expected = "\r\n".join(FORM_B_NAMES + (["wzCAFG.ZIP"] if form == "A" else []))
            self.assertEqual(z.read("ClientZips.txt").decode("ascii"), expected, n)
            self.assertEqual(len(z.read("ClientZips.txt")), 596 if form == "A" else 584)
            folder_members = [x for x in names if x.endswith("/")]
            self.assertEqual((len(folder_members), len(names) - len(folder_members)), (dirs, files), n)
            seen = set()
            counts = {}
            for name in names[1:]:
                self.assertTrue(name.startswith(top + "/"), (n, name))
                folder = name.rstrip("/").rsplit("/", 1)[0] if not name.endswith("/") else name.rstrip("/")
                rel = folder[len(top):].strip("/").lower()
                if name.endswith("/"):
                    self.assertIn(rel, FOLDERS, (n, name))
                    seen.add(rel)
                else:
                    # Every folder has its member before anything inside it.
                    self.assertIn(rel, seen, (n, name))
                    ext = name.rsplit(".", 1)[-1].lower()
                    c = counts.setdefault(rel, [0, 0, 0])
                    if ext in ("ini", "dds", "tga"):
                        c[("ini", "dds", "tga").index(ext)] += 1
                    if ext == "ini":
                        self.assertTrue(rel.startswith("menu/hud"), (n, name))
            lower = {x.lower(): x for x in names}
            font = lower.get(top.lower() + "/menu/fontconfig_zh_cn.txt")
            atlas = lower.get(top.lower() + "/menu/textures/hudatlas.dds")
            self.assertIsNotNone(font, n)
            self.assertIsNotNone(atlas, n)
            fonts.add(z.read(font))
            atlases.add(hashlib.sha256(z.read(atlas)).digest())
            counts.setdefault("menu/textures", [0, 0, 0])[1] -= 1  # the atlas is common to all
            for folder, want in EXTRAS.get(n, {}).items():
                got = counts.get(folder, [0, 0, 0])
                for k in range(3):
                    if want[k] is not None:
                        self.assertEqual(got[k], want[k], (n, folder, got))
            if n == 3:
                textures = counts["menu/textures"]
                self.assertEqual(textures[1] + textures[2], 6)
                for empty in ("menu_sc4/announcements", "menu_sc4/featured"):
                    self.assertIn(empty, seen)
                    self.assertNotIn(empty, counts)
        self.assertEqual(len(fonts), 1, "the same font configuration in every pack")
        self.assertEqual(len(atlases), 44, "a HUD atlas of its own in every pack")

    def test_textures_are_valid_dds_and_tga_files(self):
        for n in CATALOGUE:
            z = zipfile.ZipFile(io.BytesIO(self.packs[n]))
            for info in z.infolist():
                name = info.filename.lower()
                if name.endswith(".dds"):
                    data = z.read(info)
                    self.assertEqual(data[:4], b"DDS ", (n, name))
                    size, flags, height, width = struct.unpack_from("<IIII", data, 4)
                    self.assertEqual(size, 124)
                    pf_size, pf_flags, _, bits = struct.unpack_from("<IIII", data, 76)
                    self.assertEqual((pf_size, bits), (32, 32))
                    self.assertEqual(len(data), 128 + width * height * 4, (n, name))
                elif name.endswith(".tga"):
                    data = z.read(info)
                    kind = data[2]
                    width, height, bits = struct.unpack_from("<HHB", data, 12)
                    self.assertEqual((kind, bits), (2, 32), (n, name))
                    self.assertEqual(len(data), 18 + width * height * 4, (n, name))

    def test_zip_details(self):
        wide = []
        for n in CATALOGUE:
            data = self.packs[n]
            self.assertIsNone(zipfile.ZipFile(io.BytesIO(data)).testzip(), n)
            for name, f in central_entries(data):
                (_, made_by, needed, flags, method, _, _, _, comp, size, _, extra, comment, _, _, attrs,
                 local) = f
                is_dir = name.endswith("/")
                self.assertEqual((made_by, flags, extra, comment), (63, 0, 0, 0), (n, name))
                self.assertEqual(needed, 10 if is_dir else 20, (n, name))
                self.assertEqual(method, 0 if is_dir else 8, (n, name))
                if is_dir:
                    self.assertEqual((comp, size), (0, 0))
                    self.assertIn(attrs, (0x10, 0x30), (n, name))
                    if attrs == 0x30:
                        wide.append((n, name))
                else:
                    self.assertEqual(attrs, 0x20, (n, name))
                sig, _, lflags, _, _, _, _, _, _, _, lextra = struct.unpack_from("<IHHHHHIIIHH", data, local)
                self.assertEqual((sig, lflags, lextra), (0x04034B50, 0, 0), (n, name))
        self.assertEqual(len(wide), 2)
        self.assertEqual(len({n for n, _ in wide}), 1, "both in one pack")


if __name__ == "__main__":
    EXE = sys.argv[1]
    del sys.argv[1]
    unittest.main(verbosity=2)
