#!/usr/bin/env python3
"""The preview build tool on atlases made here, each format decoded to the
pixels it holds; a damaged atlas refused by the validator with the pack's
name; a maker's previewNN.png taking the atlas's place; and the previews of
the generated packs, as the build embeds them.

usage: preview_tool_tests.py PACKS_FOLDER PREVIEWS_FOLDER
"""
import io
import os
import shutil
import struct
import subprocess
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
TOOLS = os.path.join(HERE, "..", "tools")
sys.path.insert(0, TOOLS)
sys.path.insert(0, HERE)
import make_previews  # noqa: E402
from hud_atlas import pack_atlas  # noqa: E402
from pack_validator_tests import ScratchFolder, good_members, small_dds, zip_of  # noqa: E402
from PIL import Image  # noqa: E402

PACKS = PREVIEWS = None
RED, GREEN, BLUE, WHITE = (255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 255)


def rgb565(c):
    return ((c[0] >> 3) << 11) | ((c[1] >> 2) << 5) | (c[2] >> 3)


def expand565(c):
    """What a decoder makes of a colour stored as 5:6:5."""
    v = rgb565(c)
    r, g, b = v >> 11, (v >> 5) & 63, v & 31
    return ((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2))


def dds_header(width, height, fourcc):
    return struct.pack("<4sIIIIIII44sII4sIIIIIIIIII", b"DDS ", 124, 0x81007, height, width, 0, 0, 1, bytes(44),
                       32, 0x4, fourcc, 0, 0, 0, 0, 0, 0x1000, 0, 0, 0, 0)


def colour_block(c0, c1, pick):
    """A BC1 colour block between two colours (c0 > c1 as 5:6:5: the four-colour mode);
    pick(x, y) chooses the first (0) or the second (1)."""
    assert rgb565(c0) > rgb565(c1)
    bits = 0
    for y in range(4):
        for x in range(4):
            bits |= pick(x, y) << (2 * (4 * y + x))
    return struct.pack("<HHI", rgb565(c0), rgb565(c1), bits)


def alpha_block(a0, a1, pick):
    bits = 0
    for i in range(16):
        bits |= pick(i % 4, i // 4) << (3 * i)
    return struct.pack("<BB", a0, a1) + bits.to_bytes(6, "little")


def bc1(width, height, c0, c1, pick):
    blocks = b"".join(colour_block(c0, c1, lambda x, y, bx=bx, by=by: pick(bx + x, by + y))
                      for by in range(0, height, 4) for bx in range(0, width, 4))
    return dds_header(width, height, b"DXT1") + blocks


def bc3(width, height, c0, c1, pick, a0, a1, alpha_pick):
    blocks = b"".join(alpha_block(a0, a1, lambda x, y, bx=bx, by=by: alpha_pick(bx + x, by + y)) +
                      colour_block(c0, c1, lambda x, y, bx=bx, by=by: pick(bx + x, by + y))
                      for by in range(0, height, 4) for bx in range(0, width, 4))
    return dds_header(width, height, b"DXT5") + blocks


def pack_with(atlas_name, atlas):
    """A valid pack whose atlas is the given member."""
    members = [m for m in good_members() if not m[0].endswith("HUDAtlas.dds")]
    return zip_of(members + [("DATA/Menu/textures/" + atlas_name, atlas)])


def read_preview(path):
    with open(path, "rb") as f:
        return make_previews.decode(f.read())


def board(x, y):
    """The checkerboard behind a preview, at a preview pixel."""
    return make_previews.DARK[(x // make_previews.SQUARE + y // make_previews.SQUARE) % 2][:3]


class Decoding(ScratchFolder):
    prefix = "velmora-previews-"

    def preview_of(self, atlas_name, atlas):
        picture, source = make_previews.preview(self.write("pack.zip", pack_with(atlas_name, atlas)), None)
        # What the program gets: through the file format and back.
        return make_previews.decode(make_previews.encode(picture)), source

    def test_each_atlas_format_gives_its_pixels(self):
        halves = lambda x, y: 1 if x >= 4 else 0  # noqa: E731
        cases = {
            "BC1": (bc1(8, 8, RED, BLUE, halves), lambda x, y: expand565(BLUE if x >= 4 else RED)),
            # The lower half transparent: the checkerboard shows through.
            "BC3": (bc3(8, 8, WHITE, GREEN, halves, 255, 0, lambda x, y: 1 if y >= 4 else 0),
                    lambda x, y: board(x, y) if y >= 4 else expand565(GREEN if x >= 4 else WHITE)),
            "32-bit": (small_dds(2, 2, bytes((0, 0, 255, 255, 0, 255, 0, 255, 255, 0, 0, 255, 255, 255, 255, 255))),
                       lambda x, y: [[RED, GREEN], [BLUE, WHITE]][y][x]),
        }
        header24 = bytearray(small_dds(2, 1, b""))
        struct.pack_into("<II", header24, 80, 0x40, 0)  # RGB, no alpha
        struct.pack_into("<I", header24, 88, 24)
        cases["24-bit"] = (bytes(header24) + bytes((255, 0, 0, 0, 0, 255)), lambda x, y: [BLUE, RED][x])
        for label, (atlas, expected) in cases.items():
            picture, source = self.preview_of("HUDAtlas.dds", atlas)
            self.assertEqual(source, "DATA/Menu/textures/HUDAtlas.dds")
            w, h = picture.size
            got = [[picture.getpixel((x, y)) for x in range(w)] for y in range(h)]
            # The transparent half is cropped away by the BC3 preview: only opaque rows stay.
            want = [[expected(x, y) for x in range(w)] for y in range(h)]
            self.assertEqual(got, want, label)
        self.assertEqual(self.preview_of("HUDAtlas.dds", cases["BC3"][0])[0].size, (8, 4))

    def test_a_tga_only_pack_previews_its_tga_both_kinds(self):
        picture = Image.new("RGBA", (16, 8), (10, 200, 30, 255))
        picture.paste((250, 250, 0, 255), (0, 0, 8, 8))
        for rle, kind in ((None, 2), ("tga_rle", 10)):
            out = io.BytesIO()
            picture.save(out, "TGA", **({"compression": rle} if rle else {}))
            self.assertEqual(out.getvalue()[2], kind)
            preview, source = self.preview_of("HUDAtlas.tga", out.getvalue())
            self.assertEqual(source, "DATA/Menu/textures/HUDAtlas.tga")
            self.assertEqual(preview.tobytes(), picture.convert("RGB").tobytes(), kind)

    def test_a_large_atlas_is_area_averaged_to_fit(self):
        # Alternating red and blue pixels: averaged, never one of the two picked.
        w, h = 1024, 512
        row = bytes((0, 0, 255, 255, 255, 0, 0, 255)) * (w // 2)
        picture, _ = self.preview_of("HUDAtlas.dds", small_dds(w, h, row * h))
        self.assertEqual(picture.size, (256, 128))
        for x, y in ((0, 0), (100, 50), (255, 127)):
            r, g, b = picture.getpixel((x, y))
            self.assertTrue(abs(r - 128) <= 1 and g == 0 and abs(b - 128) <= 1, (x, y, r, g, b))

    def test_a_damaged_atlas_is_refused_naming_the_pack(self):
        cases = {
            "pack09.zip": ("HUDAtlas.dds", small_dds(64, 64)[:2000], "DDS holds"),
            "pack12.zip": ("HUDAtlas.dds", dds_header(8, 8, b"ATI2") + bytes(128), "not one of DXT1"),
            "pack20.zip": ("HUDAtlas.tga", b"\0\0\x03" + bytes(40), "TGA must be type 2 or 10"),
        }
        for name, (atlas_name, atlas, reason) in cases.items():
            path = self.write(name, pack_with(atlas_name, atlas))
            out = subprocess.run([sys.executable, os.path.join(TOOLS, "validate_packs.py"), path],
                                 capture_output=True, text=True)
            self.assertEqual(out.returncode, 1, out.stderr)
            self.assertIn("%s: DATA/Menu/textures/%s: the HUD atlas does not decode: " % (name, atlas_name), out.stderr)
            self.assertIn(reason, out.stderr)
        # A TGA-only pack is a valid pack.
        tga = io.BytesIO()
        Image.new("RGBA", (4, 4), (1, 2, 3, 255)).save(tga, "TGA")
        out = subprocess.run([sys.executable, os.path.join(TOOLS, "validate_packs.py"),
                              self.write("tga.zip", pack_with("HUDAtlas.tga", tga.getvalue()))],
                             capture_output=True, text=True)
        self.assertEqual(out.returncode, 0, out.stderr)


class Build(ScratchFolder):
    """make_previews.py over 44 packs, as the build runs it."""
    prefix = "velmora-previews-"

    def run_tool(self, *args):
        return subprocess.run([sys.executable, os.path.join(TOOLS, "make_previews.py")] + list(args),
                              capture_output=True, text=True)

    def test_a_makers_png_wins_and_a_damaged_pack_stops_the_build(self):
        source = os.path.join(self.dir, "source")
        os.makedirs(source)
        for n in range(1, 45):
            shutil.copy(os.path.join(PACKS, "pack%02d.zip" % n), source)
        shot = Image.new("RGB", (512, 288), (200, 40, 90))
        shot.paste((20, 30, 240), (0, 0, 256, 288))
        shot.save(os.path.join(source, "preview07.png"))
        out = os.path.join(self.dir, "out")
        done = self.run_tool(source, out, source)
        self.assertEqual(done.returncode, 0, done.stderr)
        seven = read_preview(os.path.join(out, "preview07.bin"))
        self.assertEqual(seven.size, (256, 144))
        self.assertEqual((seven.getpixel((10, 10)), seven.getpixel((200, 100))), ((20, 30, 240), (200, 40, 90)))
        eight = read_preview(os.path.join(out, "preview08.bin"))
        atlas = make_previews.fitted(pack_atlas(os.path.join(source, "pack08.zip"))[1])
        self.assertEqual(eight.tobytes(), make_previews.decode(make_previews.encode(atlas)).tobytes())
        with open(os.path.join(out, "previews.rc")) as f:
            self.assertEqual(sum(1 for line in f if "RCDATA" in line), 44)

        with open(os.path.join(source, "pack30.zip"), "wb") as f:
            f.write(pack_with("HUDAtlas.dds", small_dds(64, 64)[:500]))
        shutil.rmtree(out)
        done = self.run_tool(source, out)
        self.assertEqual(done.returncode, 1)
        self.assertIn("pack30.zip: DATA/Menu/textures/HUDAtlas.dds: DDS holds", done.stderr)
        self.assertFalse(os.path.exists(os.path.join(out, "previews.rc")))

    def test_the_generated_packs_previews_show_their_sprites(self):
        """Each of the build's 44 previews differs from the others and is not the bare checkerboard."""
        seen = set()
        for n in range(1, 45):
            picture = read_preview(os.path.join(PREVIEWS, "preview%02d.bin" % n))
            self.assertTrue(max(picture.size) <= 256 and min(picture.size) >= 32, (n, picture.size))
            w, h = picture.size
            bare = sum(1 for y in range(h) for x in range(w) if picture.getpixel((x, y)) == board(x, y))
            self.assertLess(bare, w * h * 0.9, n)
            seen.add(picture.tobytes())
        self.assertEqual(len(seen), 44)


if __name__ == "__main__":
    PACKS, PREVIEWS = sys.argv[1], sys.argv[2]
    del sys.argv[1:3]
    unittest.main(verbosity=2)
