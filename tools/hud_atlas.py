"""A theme pack's HUD atlas, found in the archive and decoded.

The atlas is Menu/textures/HUDAtlas.dds under the pack's top folder (any
letter case), or HUDAtlas.tga there when the pack has no DDS. Decoding is
Pillow's: DDS uncompressed 32-bit and 24-bit, BC1/DXT1, BC2/DXT3, BC3/DXT5;
TGA types 2 (true colour) and 10 (run-length true colour).
"""
import io
import struct
import zipfile
import zlib

try:
    from PIL import Image
except ImportError:  # named where it is needed: the validator's other rules run without it
    Image = None

DDPF_ALPHAPIXELS, DDPF_FOURCC, DDPF_RGB = 0x1, 0x4, 0x40
FOURCCS = (b"DXT1", b"DXT3", b"DXT5")


class AtlasError(Exception):
    pass


def atlas_member(names):
    """The atlas's member name among an archive's names, or None."""
    by_suffix = {}
    for name in names:
        parts = name.lower().split("/")
        if len(parts) == 4 and parts[1:3] == ["menu", "textures"]:
            by_suffix.setdefault(parts[3], name)
    return by_suffix.get("hudatlas.dds") or by_suffix.get("hudatlas.tga")


def check_dds_format(data):
    """Refuses what Pillow would decode wrongly or not at all, saying what it is."""
    if len(data) < 128 or data[:4] != b"DDS " or struct.unpack_from("<I", data, 4)[0] != 124:
        raise AtlasError("not a DDS file")
    height, width = struct.unpack_from("<II", data, 12)
    flags, fourcc, bits = struct.unpack_from("<I4sI", data, 80)
    masks = struct.unpack_from("<4I", data, 92)
    if flags & DDPF_FOURCC:
        if fourcc not in FOURCCS:
            raise AtlasError("DDS format %r is not one of DXT1, DXT3, DXT5" % fourcc.decode("latin-1"))
        block = 8 if fourcc == b"DXT1" else 16
        need = ((width + 3) // 4) * ((height + 3) // 4) * block
    elif flags & DDPF_RGB:
        alpha = bool(flags & DDPF_ALPHAPIXELS)
        if (bits, alpha) not in ((32, True), (24, False)) or masks[:3] != (0xFF0000, 0xFF00, 0xFF) or \
                (alpha and masks[3] != 0xFF000000):
            raise AtlasError("uncompressed DDS must be 32-bit BGRA or 24-bit BGR")
        need = width * height * bits // 8
    else:
        raise AtlasError("DDS pixel format is neither compressed nor RGB")
    if width == 0 or height == 0:
        raise AtlasError("DDS is empty")
    if len(data) - 128 < need:
        raise AtlasError("DDS holds %d bytes of pixels, %dx%d needs %d" % (len(data) - 128, width, height, need))


def decode(name, data):
    """The atlas as an RGBA picture; AtlasError saying why it cannot be."""
    if Image is None:
        raise AtlasError("Pillow is missing (tools/setup.sh installs python3-pil)")
    if name.lower().endswith(".dds"):
        check_dds_format(data)
    elif len(data) < 18 or data[2] not in (2, 10):
        raise AtlasError("TGA must be type 2 or 10")
    try:
        with Image.open(io.BytesIO(data)) as im:
            im.load()
            return im.convert("RGBA")
    except Exception as e:  # Pillow's reasons vary by format and version
        raise AtlasError("does not decode: %s" % (str(e) or type(e).__name__))


def pack_atlas(path):
    """(member name, RGBA picture) of a pack archive; AtlasError when there is none or it is damaged."""
    try:
        with zipfile.ZipFile(path) as z:
            member = atlas_member(z.namelist())
            if member is None:
                raise AtlasError("no Menu/textures/HUDAtlas.dds or .tga")
            data = z.read(member)
    except (zipfile.BadZipFile, zlib.error, OSError, NotImplementedError) as e:
        raise AtlasError("cannot be read: %s" % e)
    try:
        return member, decode(member, data)
    except AtlasError as e:
        raise AtlasError("%s: %s" % (member, e))
