#!/usr/bin/env python3
"""Compiles a look file into the skin library's skin format.

usage: make_skin.py SkinFormat.h LOOK_FILE OUTPUT

The colour slots and their order come from the enum in SkinFormat.h, so the
file and the library cannot disagree; every slot must be given exactly once."""
import re
import struct
import sys


def slot_names(header):
    text = open(header, encoding="utf-8").read()
    body = re.search(r"enum SkinColour \{(.*?)\};", text, re.S).group(1)
    names = re.findall(r"\bSkin(\w+)\s*,", body)
    if not names or "ColourCount" in names:
        sys.exit("make_skin: cannot read the colour slots of " + header)
    return names


def read_look(path):
    values = {}
    for number, line in enumerate(open(path, encoding="utf-8"), 1):
        parts = line.split()
        # Comments take whole lines: colour values begin with "#" too.
        if not parts or parts[0].startswith("#"):
            continue
        if len(parts) != 2 or parts[0] in values:
            sys.exit(f"make_skin: {path}:{number}: expected one 'name value' per line")
        values[parts[0]] = parts[1]
    return values


def main():
    header, look, output = sys.argv[1:4]
    slots = slot_names(header)
    values = read_look(look)
    data = bytearray(b"VSKN" + struct.pack("<HH", 1, len(slots)))
    for name in slots:
        colour = values.pop(name, None)
        if not colour or not re.fullmatch(r"#[0-9A-Fa-f]{6}", colour):
            sys.exit(f"make_skin: {look}: slot {name} needs a #RRGGBB colour")
        data += bytes.fromhex(colour[1:]) + b"\0"
    face = values.pop("FontFace").encode("utf-16-le")
    if not 1 <= len(face) // 2 <= 31:
        sys.exit("make_skin: the face name must be 1 to 31 characters")
    data += struct.pack("<hHBB", int(values.pop("FontHeight")), int(values.pop("FontWeight")),
                        int(values.pop("FontCharset")), len(face) // 2) + face
    if values:
        sys.exit(f"make_skin: {look}: unknown names {sorted(values)}")
    with open(output, "wb") as out:
        out.write(data)


if __name__ == "__main__":
    main()
