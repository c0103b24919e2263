#!/usr/bin/env python3
"""Makes the 44 theme packs and the resource script that embeds them.

usage: make_packs.py OUT_DIR

The real HUD textures are not ours to ship; these packs keep everything else
of the real ones: the folders and members of each pack, their order and letter
case, ClientZips.txt in its two forms, one font configuration shared by all,
HUD layout files, valid DDS and TGA textures whose pictures differ per theme,
and archive sizes close to the real ones. The same bytes come out every time.
"""
import os
import random
import struct
import sys
import zlib

# order, word, archive bytes, folders, files, top folder, ClientZips form, extras
# extras: (folder under the top folder, kind, count or names)
CATALOGUE = [
    (1, "王者", 2648818, 6, 23, "DATA", "A", [("Menu/HUD/Elements", "ini", 2), ("Menu/textures", "tex", ["HUDAtlas.tga", "messagebox.dds", "messagebox.tga"]), ("Menu_SC4", "dds", 15)]),
    (2, "钻石", 2503656, 4, 20, "Data", "A", [("Menu/Textures", "tex", ["HUDAtlas.tga"]), ("Menu_SC4", "dds", 16)]),
    (3, "还原", 1860703, 9, 194, "DATA", "B", [("Menu/HUD", "ini", 16), ("Menu/HUD/Elements", "ini", 115), ("Menu/HUD/defaults", "ini", 17),
                                            ("Menu/Textures", "tex", ["HUDAtlas.tga", "messagebox.dds", "messagebox.tga", "Minimap.dds", "Scoreboard.dds", "Chat.dds"]),
                                            ("Menu_SC4", "dds", 36), ("Menu_SC4", "tga", 1), ("Menu_SC4/Announcements", "empty", 0), ("Menu_SC4/featured", "empty", 0)]),
    (4, "恶魔", 1463048, 4, 19, "Data", "B", [("Menu_SC4", "dds", 16)]),
    (5, "暗黑", 697005, 4, 3, "Data", "B", [("Menu_SC4", "empty", 0)]),
    (6, "露露", 717858, 4, 3, "Data", "B", [("Menu_SC4", "empty", 0)]),
    (7, "圣诞", 1879432, 4, 28, "Data", "B", [("Menu_SC4", "dds", 25)]),
    (8, "神族", 676383, 5, 6, "DATA", "B", [("Menu/HUD/Elements", "ini", 3)]),
    (9, "虫族", 671932, 5, 6, "DATA", "B", [("Menu/HUD/Elements", "ini", 3)]),
    (10, "蓝珠", 774043, 6, 10, "DATA", "B", [("Menu/HUD/Elements", "ini", 3), ("Menu_SC4", "dds", 3), ("Menu_SC4", "tga", 1)]),
    (11, "科幻", 644080, 3, 3, "Data", "B", []),
    (12, "狩猎", 677387, 3, 3, "Data", "B", []),
    (13, "黑框", 628088, 6, 9, "DATA", "B", [("Menu/HUD/Elements", "ini", 3), ("Menu_SC4", "dds", 3)]),
    (14, "黄金", 1848084, 6, 22, "DATA", "B", [("Menu/HUD/Elements", "ini", 3), ("Menu/textures", "tex", ["messagebox.dds"]), ("Menu_SC4", "dds", 15)]),
    (15, "Foxe", 637065, 6, 40, "Data", "B", [("Menu/HUD/Elements", "ini", 34), ("Menu_SC4", "dds", 3)]),
    (16, "战地", 665667, 3, 3, "Data", "B", []),
    (17, "马年", 725692, 5, 6, "Data", "B", [("Menu/HUD/Elements", "ini", 3)]),
    (18, "Perb", 813633, 6, 10, "DATA", "B", [("Menu/HUD/Elements", "ini", 2), ("Menu_SC4", "dds", 5)]),
    (19, "蓝色", 702802, 3, 3, "Data", "B", []),
    (20, "酷绿", 649118, 3, 3, "Data", "B", []),
    (21, "屠龙", 657560, 3, 3, "Data", "B", []),
    (22, "锤石", 690631, 3, 3, "Data", "B", []),
    (23, "鱼人", 701977, 3, 3, "Data", "B", []),
    (24, "冰魄", 672658, 3, 3, "Data", "B", []),
    (25, "Kllv", 703234, 3, 3, "Data", "B", []),
    (26, "安妮", 739978, 3, 3, "Data", "B", []),
    (27, "金色", 691108, 3, 3, "Data", "B", []),
    (28, "打野", 667310, 3, 3, "Data", "B", []),
    (29, "透明", 1103256, 6, 22, "DATA", "B", [("Menu/HUD/Elements", "ini", 5), ("Menu_SC4", "dds", 14)]),
    (30, "紫色", 676251, 3, 3, "Data", "B", []),
    (31, "娜美", 694765, 3, 3, "data", "B", []),
    (32, "钻白", 703777, 3, 3, "Data", "B", []),
    (33, "璐璐", 651422, 3, 3, "data", "B", []),
    (34, "瑞文", 669550, 3, 3, "data", "B", []),
    (35, "武器", 643599, 3, 3, "data", "B", []),
    (36, "辅助", 648436, 3, 3, "data", "B", []),
    (37, "虚空", 692696, 3, 3, "data", "B", []),
    (38, "狼人", 686471, 3, 3, "data", "B", []),
    (39, "冰兰", 678025, 3, 3, "data", "B", []),
    (40, "白翼", 681287, 3, 3, "data", "B", []),
    (41, "Tron", 553498, 5, 30, "DATA", "B", [("Menu/HUD/Elements", "ini", 27)]),
    (42, "铂金", 667686, 3, 3, "DATA", "B", []),
    (43, "盲僧", 811069, 5, 42, "DATA", "B", [("Menu/HUD/Elements", "ini", 39)]),
    (44, "亚索", 802477, 5, 42, "DATA", "B", [("Menu/HUD/Elements", "ini", 39)]),
]

CLIENT_ZIPS = (["Aatrox.zip", "Azir.zip", "CharacterAnimations.zip"] +
               ["CharacterAnimations%d.zip" % i for i in range(1, 5)] +
               ["Characters.zip", "CharacterSkins.zip", "CharacterSkins1.zip", "CharacterTextures.zip"] +
               ["CharacterTextures%d.zip" % i for i in range(1, 8)] +
               ["Datas.zip", "Datas1.zip", "Datas2.zip", "Jinx.zip", "Loading.zip", "Lucian.zip", "Particles.zip",
                "ParticleTextrues.zip", "ParticleTextrues1.zip", "ParticleTextrues2.zip", "ParticleTextrues3.zip",
                "Yasuo.zip"])
FORM_B = "\r\n".join(CLIENT_ZIPS).encode("ascii")
FORM_A = FORM_B + b"\r\nwzCAFG.ZIP"
assert len(CLIENT_ZIPS) == 30 and len(FORM_B) == 584 and len(FORM_A) == 596

FONTCONFIG = "".join(
    "[FontConfig \"zh_CN\"]\r\n" if i == 0 else
    "fontlib \"fonts_zh_CN.swf\"\r\nmap \"$ButtonFont\" = \"Microsoft YaHei\" Bold\r\n" if i == 1 else
    "map \"$Font%d\" = \"SimHei\" Normal\r\ntr \"hud_label_%d\" = \"HUD %d\"\r\n" % (i, i, i)
    for i in range(60)).encode("ascii")

DOS_TIME, DOS_DATE = (12 << 11) | (30 << 5) | 5, ((2014 - 1980) << 9) | (1 << 5) | 29
# The folders a pack can hold, in the order their members stand.
FOLDER_ORDER = ["", "Menu", "Menu/HUD", "Menu/HUD/defaults", "Menu/HUD/Elements", "Menu/textures", "Menu_SC4",
                "Menu_SC4/Announcements", "Menu_SC4/featured"]
ROW = 1024  # bytes per texture row: 256 pixels of 32 bits


def cased(entry, folder):
    """The folder in the letter case of this pack."""
    order, _, _, _, _, top, _, extras = entry
    menu = "menu" if top == "data" else "Menu"
    textures = "Textures" if any(f == "Menu/Textures" for f, _, _ in extras) else "textures"
    parts = [top] + [p for p in folder.split("/") if p]
    parts = [menu if p == "Menu" else textures if p.lower() == "textures" else p for p in parts]
    return "/".join(parts) + "/"


def dds(width, height, rnd, tint, draw=None):
    # DDS_HEADER with an uncompressed 32-bit BGRA pixel format.
    header = struct.pack("<4sIIIIIII44sII4sIIIIIIIIII", b"DDS ", 124, 0x100F, height, width, width * 4, 0, 1,
                         bytes(44), 32, 0x41, b"\0\0\0\0", 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 0x1000,
                         0, 0, 0, 0)
    assert len(header) == 128
    return header + (draw or picture)(width, height, rnd, tint)


def tga(width, height, rnd, tint, draw=None):
    header = struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, width, height, 32, 0x28)
    return header + (draw or picture)(width, height, rnd, tint)


def picture(width, height, rnd, tint):
    """A band of the theme's colour over grain: real textures hardly compress."""
    band = min(height, 4)
    top = bytearray()
    for y in range(band):
        for x in range(width):
            top += bytes(((tint[0] * x) // width, (tint[1] * (y + 1)) // band, tint[2], 255))
    return bytes(top) + rnd.randbytes((height - band) * width * 4)


def atlas_picture(width, height, rnd, tint):
    """A HUD atlas: a sheet of sprites in the theme's colour (bars, a ring, a
    disc, buttons) on transparency, then grain that is all transparent, so
    that the pack keeps its size and its preview shows the sprites."""
    sheet = min(height, width)
    r, g, b = tint
    light = tuple(min(255, c + 90) for c in tint)
    out = bytearray(width * sheet * 4)

    def put(x, y, colour, alpha=255):
        i = (y * width + x) * 4
        out[i:i + 4] = bytes((colour[2], colour[1], colour[0], alpha))  # BGRA

    for y in range(sheet):
        for x in range(width):
            u, v = x * 256 // width, y * 256 // sheet
            if 12 <= v < 44 and 8 <= u < 248:  # a bar whose colour runs from the tint to its light
                k = (u - 8) * 255 // 240
                put(x, y, tuple((c * (255 - k) + l * k) // 255 for c, l in zip(tint, light)))
            elif 56 <= v < 64 and 8 <= u < 248:
                put(x, y, light, 160)
            elif 72 <= v < 176:
                d2 = (u - 64) ** 2 + (v - 124) ** 2  # a ring
                e2 = (u - 186) ** 2 + (v - 124) ** 2  # a disc lit from the top
                if 38 ** 2 <= d2 < 48 ** 2:
                    put(x, y, light)
                elif e2 < 48 ** 2:
                    put(x, y, tuple(c * (176 - v) // 104 + 40 for c in (r // 2, g // 2, b // 2)), 230)
            elif 192 <= v < 248 and (u % 48) < 40 and 8 <= u < 248:  # buttons
                edge = (u % 48) in (0, 39) or v in (192, 247)
                put(x, y, light if edge else tint, 255 if edge else 200)
    grain = bytearray(rnd.randbytes((height - sheet) * width * 4))
    grain[3::4] = bytes(len(grain) // 4)
    return bytes(out) + bytes(grain)


def ini_text(order, folder, index):
    rnd = random.Random(order * 1000 + index)
    lines = ["[%s%d]" % (folder.split("/")[-1], index), "Theme=%d" % order]
    for k in range(rnd.randrange(12, 40)):
        lines.append("Element%d=%d,%d,%d,%d" % (k, rnd.randrange(1024), rnd.randrange(768), rnd.randrange(1, 256),
                                                rnd.randrange(1, 256)))
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def layout(entry):
    """[(name, kind, data)] in archive order; textures (data None) get their sizes later."""
    order, word, _, dirs, files, top, form, extras = entry
    members = {f: [] for f in FOLDER_ORDER}
    members["Menu"].append(("fontconfig_zh_CN.txt", "file", FONTCONFIG))
    members["Menu/textures"].append(("hudatlas.dds" if top == "data" else "HUDAtlas.dds", "atlas", None))
    used = {"", "Menu", "Menu/textures"}
    for folder, kind, what in extras:
        key = "Menu/textures" if folder == "Menu/Textures" else folder
        used.add(key)
        if "/" in key:
            used.add(key.rsplit("/", 1)[0])
        if kind == "ini":
            for i in range(what):
                members[key].append(("%s%02d.ini" % (key.split("/")[-1], i + 1), "file", ini_text(order, key, i)))
        elif kind == "tex":
            for name in what:
                members[key].append((name, "atlas_tga" if name == "HUDAtlas.tga" else name[-3:], None))
        elif kind in ("dds", "tga"):
            for i in range(what):
                members[key].append(("%s_%02d.%s" % ("Announce" if kind == "tga" else "Panel", i + 1, kind), kind, None))
    out = [("ClientZips.txt", "file", FORM_A if form == "A" else FORM_B)]
    for folder in FOLDER_ORDER:
        if folder not in used:
            continue
        out.append((cased(entry, folder), "dir", None))
        prefix = cased(entry, folder)
        out += [(prefix + name, kind, data) for name, kind, data in members[folder]]
    n_dirs = sum(1 for m in out if m[1] == "dir")
    assert (n_dirs, len(out) - n_dirs) == (dirs, files), (word, n_dirs, len(out) - n_dirs)
    return out


def deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def zip_bytes(members, wide_dirs):
    """A plain ZIP: flags 0, made by 63 on MS-DOS, no extra fields, no comment."""
    local, central = bytearray(), bytearray()
    for name, data in members:
        raw = name.encode("ascii")
        is_dir = name.endswith("/")
        method, needed = (0, 10) if is_dir else (8, 20)
        comp = b"" if is_dir else deflate(data)
        crc = zlib.crc32(data) if data else 0
        attrs = (0x30 if name in wide_dirs else 0x10) if is_dir else 0x20
        offset = len(local)
        local += struct.pack("<IHHHHHIIIHH", 0x04034B50, needed, 0, method, DOS_TIME, DOS_DATE, crc, len(comp),
                             len(data), len(raw), 0) + raw + comp
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 63, needed, 0, method, DOS_TIME, DOS_DATE, crc,
                               len(comp), len(data), len(raw), 0, 0, 0, 0, attrs, offset) + raw
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central), len(local), 0)
    return bytes(local + central + end)


def build(entry):
    order, word, target = entry[0], entry[1], entry[2]
    plan = layout(entry)
    textures = [i for i, m in enumerate(plan) if m[1] in ("dds", "tga", "atlas", "atlas_tga")]
    # The two empty folders of the restore pack carry 0x30.
    wide_dirs = {m[0] for m in plan if m[1] == "dir" and m[0].lower().endswith(("announcements/", "featured/"))}
    fixed = zip_bytes([(m[0], m[2] or b"") for m in plan], wide_dirs)
    budget = max(target - len(fixed), len(textures) * ROW * 8)
    tint = ((order * 53) % 256, (order * 97) % 256, (order * 151) % 256)
    rows = [max(8, budget // len(textures) // ROW)] * len(textures)

    def assemble():
        data = {}
        for k, i in enumerate(textures):
            rnd = random.Random(order * 7919 + k)
            kind = plan[i][1]
            data[i] = (dds if kind in ("dds", "atlas") else tga)(256, rows[k], rnd, tint,
                                                                 atlas_picture if kind.startswith("atlas") else None)
        return zip_bytes([(m[0], data.get(i, m[2] or b"")) for i, m in enumerate(plan)], wide_dirs)

    blob = assemble()
    # The colour bands and the atlas's sprites compress: more passes spend
    # what they saved, at the bytes a row was seen to cost.
    per_row = ROW
    for _ in range(4):
        short = (target - len(blob)) // per_row
        if abs(target - len(blob)) <= ROW or short == 0:
            break
        for k in range(len(textures)):
            rows[k] = max(8, rows[k] + short // len(textures) + (1 if k < short % len(textures) else 0))
        before, blob = len(blob), assemble()
        per_row = max(ROW // 4, min(ROW, abs(len(blob) - before) // max(1, abs(short))))
    return blob


def main(out_dir):
    os.makedirs(out_dir, exist_ok=True)
    rc = ["// Made by make_packs.py: the theme packs in catalogue order."]
    for entry in CATALOGUE:
        blob = build(entry)
        order, target = entry[0], entry[2]
        assert abs(len(blob) - target) <= target * 0.05, (entry[1], len(blob), target)
        path = os.path.join(out_dir, "pack%02d.zip" % order)
        with open(path, "wb") as f:
            f.write(blob)
        rc.append('PACK%02d RCDATA "%s"' % (order, path))
    with open(os.path.join(out_dir, "packs.rc"), "w") as f:
        f.write("\n".join(rc) + "\n")


if __name__ == "__main__":
    main(sys.argv[1])
