#!/usr/bin/env python3
"""Checks theme pack archives against what Velmora relies on, before they are
embedded, and that its HUD atlas decodes (the preview is drawn from it).
Each problem names the file, the member and the rule; a pack whose
member count or size differs from the catalogue only draws a warning (an
updated theme may differ). Errors and warnings go to standard error, so that
a build that hides its commands' output still shows them.

usage: validate_packs.py FOLDER | ARCHIVE...            check, exit 1 on an error
       validate_packs.py --write-rc RC FOLDER             check the 44 packs of a
                                                          folder (pack01.zip ... pack44.zip)
                                                          and write the resource script
                                                          that embeds them as they are

An archive named packNN.zip is checked as catalogue entry NN; any other name
is checked against the rules every entry shares.
"""
import os
import re
import struct
import sys
import zipfile
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_packs import CATALOGUE, FORM_A, FORM_B  # noqa: E402
import hud_atlas  # noqa: E402

END = 0x06054B50
CENTRAL = 0x02014B50
LOCAL = 0x04034B50
DEVICES = re.compile(r"^(con|prn|aux|nul|com[1-9]|lpt[1-9]|clock\$|conin\$|conout\$)(\..*)?$", re.I)
COMMON = ["clientzips.txt", "data/menu/fontconfig_zh_cn.txt", "data/menu/textures/hudatlas.dds"]


def pack_order(path):
    m = re.fullmatch(r"pack(\d\d)\.zip", os.path.basename(path), re.I)
    return int(m.group(1)) if m and 1 <= int(m.group(1)) <= 44 else None


def check(path):
    """([errors], [warnings]) for one archive; each a line naming file, member and rule."""
    errors, warnings = [], []
    name = os.path.basename(path)

    def error(member, rule):
        errors.append("%s: %s: %s" % (name, member or "(archive)", rule))

    with open(path, "rb") as f:
        data = f.read()
    at = data.rfind(struct.pack("<I", END))
    if at < 0 or len(data) - at < 22:
        error(None, "no end-of-central-directory record: not a complete ZIP file")
        return errors, warnings
    _, disk, _, _, count, size, start, comment = struct.unpack_from("<IHHHHIIH", data, at)
    if at + 22 + comment != len(data):
        error(None, "%d bytes after the end record" % (len(data) - at - 22 - comment))
    if disk != 0 or start + size != at:
        error(None, "the central directory is not where the end record says")
        return errors, warnings
    members, seen_dirs, pos = [], set(), start
    for i in range(count):
        if pos + 46 > at or struct.unpack_from("<I", data, pos)[0] != CENTRAL:
            error(None, "central entry %d is damaged" % i)
            return errors, warnings
        (_, _, _, flags, method, _, _, crc, csize, usize, nlen, elen, clen, _, _, _, offset) = \
            struct.unpack_from("<IHHHHHHIIIHHHHHII", data, pos)
        raw = data[pos + 46:pos + 46 + nlen]
        pos += 46 + nlen + elen + clen
        member = raw.decode("ascii", "replace")
        members.append((member, usize))
        is_dir = member.endswith("/")
        if len(raw) > 259:
            error(member, "name longer than 259 bytes")
        if "\\" in member or member.startswith("/") or ":" in member or re.match(r"^[A-Za-z]:", member):
            error(member, "name must be relative and \"/\"-separated, without a drive or colon")
        levels = member.rstrip("/").split("/")
        if any(level in ("", ".", "..") for level in levels):
            error(member, "name has an empty, \".\" or \"..\" level")
        if any(DEVICES.match(level) for level in levels):
            error(member, "name has a Windows device name")
        if flags & 0x1:
            error(member, "encrypted")
        if flags & 0x8:
            error(member, "uses a data descriptor")
        if is_dir and method != 0:
            error(member, "a directory member must be stored")
        if not is_dir and method != 8:
            error(member, "a file member must be deflated (method %d)" % method)
        parent = member.rstrip("/").rsplit("/", 1)[0] + "/" if "/" in member.rstrip("/") else None
        if parent and parent.lower() not in seen_dirs:
            error(member, "its folder %s has no directory member before it" % parent)
        if is_dir:
            seen_dirs.add(member.lower())
            continue
        if offset + 30 > len(data) or struct.unpack_from("<I", data, offset)[0] != LOCAL:
            error(member, "no local header where the central entry points")
            continue
        lnlen, lelen = struct.unpack_from("<HH", data, offset + 26)
        body = data[offset + 30 + lnlen + lelen:offset + 30 + lnlen + lelen + csize]
        try:
            content = zlib.decompress(body, -15) if method == 8 else body
        except zlib.error:
            error(member, "the deflate stream is damaged")
            continue
        if len(content) != usize:
            error(member, "inflates to %d bytes, not the declared %d" % (len(content), usize))
        if zlib.crc32(content) != crc:
            error(member, "CRC-32 does not match its bytes")
        if i == 0:
            order = pack_order(path)
            form = FORM_A if order in (1, 2) else FORM_B
            if order is not None and content != form:
                error(member, "ClientZips.txt is not form %s" % ("A" if form is FORM_A else "B"))
    if not members or members[0][0] != "ClientZips.txt":
        error(members[0][0] if members else None, "the first member must be ClientZips.txt")
    lower = {m.lower() for m, _ in members}
    for common in COMMON:
        # A pack without a DDS atlas may have it as TGA.
        if common not in lower and not (common.endswith(".dds") and common[:-3] + "tga" in lower):
            error(common, "a member every pack has is missing")
    if not errors:
        # The preview is drawn from the atlas: it must decode.
        member = hud_atlas.atlas_member(m for m, _ in members)
        try:
            with zipfile.ZipFile(path) as z:
                hud_atlas.decode(member, z.read(member))
        except hud_atlas.AtlasError as e:
            error(member, "the HUD atlas does not decode: %s" % e)
    order = pack_order(path)
    if order is not None and not errors:
        entry = CATALOGUE[order - 1]
        dirs = sum(1 for m, _ in members if m.endswith("/"))
        if (dirs, len(members) - dirs) != (entry[3], entry[4]):
            warnings.append("%s: warning: %d folders and %d files, the catalogue has %d and %d"
                            % (name, dirs, len(members) - dirs, entry[3], entry[4]))
        if abs(len(data) - entry[2]) > entry[2] * 0.05:
            warnings.append("%s: warning: %d bytes, the catalogue has about %d" % (name, len(data), entry[2]))
    return errors, warnings


def main(argv):
    write_rc = None
    if argv[:1] == ["--write-rc"]:
        write_rc, argv = argv[1], argv[2:]
    if not argv:
        sys.exit(__doc__)
    if len(argv) == 1 and os.path.isdir(argv[0]):
        folder = argv[0]
        paths = [os.path.join(folder, "pack%02d.zip" % n) for n in range(1, 45)] if write_rc else \
            sorted(os.path.join(folder, f) for f in os.listdir(folder) if f.lower().endswith(".zip"))
    else:
        paths = argv
    failed = False
    for path in paths:
        if not os.path.isfile(path):
            print("%s: missing" % path, file=sys.stderr)
            failed = True
            continue
        errors, warnings = check(path)
        for line in errors + warnings:
            print(line, file=sys.stderr)
        failed = failed or bool(errors)
    if failed:
        return 1
    if write_rc:
        lines = ["// Made by validate_packs.py: the maker's packs, as they are."]
        lines += ['PACK%02d RCDATA "%s"' % (n, os.path.abspath(p)) for n, p in enumerate(paths, 1)]
        with open(write_rc, "w") as f:
            f.write("\n".join(lines) + "\n")
    print("%d archive(s) checked" % len(paths))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
