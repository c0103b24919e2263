#!/usr/bin/env python3
"""Makes the theme previews: one small picture per embedded pack, and the
resource script that embeds them.

usage: make_previews.py PACKS_DIR OUT_DIR [MAKER_DIR]

Each pack's picture is its HUD atlas (hud_atlas.py), or the maker's
previewNN.png beside packNN.zip in MAKER_DIR when there is one. Less its
rows and columns that are transparent all through, it is scaled
down to fit 256 x 256, keeping its aspect, by area averaging (a sprite sheet
keeps its shapes instead of blurring), and drawn over a dark checkerboard so
that transparency shows. A picture is never enlarged.

Written as previewNN.bin, a format the program reads with zlib alone:
"VPV1", width, height and palette size (16-bit little-endian), the palette
(3 bytes R, G, B per colour), then one zlib stream of width x height palette
indices, rows top to bottom. A picture of more than 256 colours is reduced by
median cut with Floyd-Steinberg dithering. The same packs give the same bytes.
"""
import os
import struct
import sys
import time
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from hud_atlas import AtlasError, pack_atlas  # noqa: E402

from PIL import Image  # noqa: E402

FIT = 256
SQUARE = 8  # checkerboard square, in preview pixels
DARK = ((40, 40, 40, 255), (58, 58, 58, 255))
PACK_COUNT = 44


def checkerboard(width, height):
    board = Image.new("RGBA", (width, height), DARK[0])
    for y in range(0, height, SQUARE):
        for x in range((y // SQUARE) % 2 * SQUARE, width, 2 * SQUARE):
            board.paste(DARK[1], (x, y, min(x + SQUARE, width), min(y + SQUARE, height)))
    return board


def fitted(picture):
    """The picture scaled down (area averaging) to fit FIT x FIT, over the checkerboard, as RGB."""
    picture = picture.convert("RGBA")
    # Rows and columns that are transparent all through show nothing.
    box = picture.getchannel("A").getbbox()
    if box:
        picture = picture.crop(box)
    w, h = picture.size
    scale = min(1.0, FIT / w, FIT / h)
    size = (max(1, round(w * scale)), max(1, round(h * scale)))
    if size != picture.size:
        # Pillow averages RGBA premultiplied: transparent pixels lend no colour.
        picture = picture.resize(size, Image.Resampling.BOX)
    return Image.alpha_composite(checkerboard(*size), picture).convert("RGB")


def encode(rgb):
    colours = rgb.getcolors(256)
    if colours is not None:
        palette = sorted(c for _, c in colours)
        index = {c: i for i, c in enumerate(palette)}
        pixels = bytes(index[c] for c in rgb.getdata())
    else:
        reduced = rgb.quantize(256, method=Image.Quantize.MEDIANCUT, dither=Image.Dither.FLOYDSTEINBERG)
        flat = reduced.getpalette()[:256 * 3]
        palette = [tuple(flat[i:i + 3]) for i in range(0, len(flat), 3)]
        pixels = reduced.tobytes()
    w, h = rgb.size
    return (b"VPV1" + struct.pack("<HHH", w, h, len(palette)) + b"".join(bytes(c) for c in palette) +
            zlib.compress(pixels, 9))


def decode(blob):
    """previewNN.bin back to an RGB picture (for the tests)."""
    if blob[:4] != b"VPV1":
        raise ValueError("not a preview")
    w, h, n = struct.unpack_from("<HHH", blob, 4)
    palette = blob[10:10 + 3 * n]
    pixels = zlib.decompress(blob[10 + 3 * n:])
    im = Image.frombytes("P", (w, h), pixels)
    im.putpalette(palette)
    return im.convert("RGB")


def preview(pack_path, maker_png):
    """(RGB picture, where it came from)."""
    if maker_png and os.path.isfile(maker_png):
        with Image.open(maker_png) as im:
            im.load()
            return fitted(im), os.path.basename(maker_png)
    member, atlas = pack_atlas(pack_path)
    return fitted(atlas), member


def main(argv):
    if len(argv) not in (2, 3):
        sys.exit(__doc__)
    packs, out = argv[0], argv[1]
    maker = argv[2] if len(argv) == 3 else None
    started = time.monotonic()
    os.makedirs(out, exist_ok=True)
    rc, total, failed = ["// Made by make_previews.py: one picture per theme, in catalogue order."], 0, False
    for n in range(1, PACK_COUNT + 1):
        pack = os.path.join(packs, "pack%02d.zip" % n)
        try:
            picture, _ = preview(pack, maker and os.path.join(maker, "preview%02d.png" % n))
        except (AtlasError, OSError) as e:
            print("pack%02d.zip: %s" % (n, e), file=sys.stderr)
            failed = True
            continue
        blob = encode(picture)
        total += len(blob)
        path = os.path.join(out, "preview%02d.bin" % n)
        with open(path, "wb") as f:
            f.write(blob)
        rc.append('PREVIEW%02d RCDATA "%s"' % (n, os.path.abspath(path)))
    if failed:
        return 1
    with open(os.path.join(out, "previews.rc"), "w") as f:
        f.write("\n".join(rc) + "\n")
    print("%d previews, %d bytes, made in %.2f s" % (PACK_COUNT, total, time.monotonic() - started))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
