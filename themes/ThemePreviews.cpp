#include "themes/ThemePreviews.h"

#include <zlib.h>

#include <cstdio>
#include <cstring>

#include "runtime/Resources.h"

namespace {

constexpr int kMaxSide = 1024;  // the tool makes at most 256; more is not ours

unsigned U16(const std::uint8_t* p) { return p[0] | (p[1] << 8); }

}  // namespace

Picture DecodePreview(ByteSpan bytes) {
    if (bytes.size < 10 || std::memcmp(bytes.data, "VPV1", 4) != 0) return Picture();
    const int width = int(U16(bytes.data + 4)), height = int(U16(bytes.data + 6));
    const unsigned colours = U16(bytes.data + 8);
    if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide || colours == 0 || colours > 256 ||
        bytes.size < 10 + 3 * std::size_t(colours))
        return Picture();
    const std::uint8_t* palette = bytes.data + 10;
    const std::size_t packedAt = 10 + 3 * std::size_t(colours);
    std::vector<std::uint8_t> indices(std::size_t(width) * height);
    uLongf unpacked = uLongf(indices.size());
    if (uncompress(indices.data(), &unpacked, bytes.data + packedAt, uLong(bytes.size - packedAt)) != Z_OK ||
        unpacked != indices.size())
        return Picture();
    Picture picture;
    picture.width = width;
    picture.height = height;
    picture.pixels.resize(indices.size());
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (indices[i] >= colours) return Picture();
        const std::uint8_t* c = palette + 3 * indices[i];
        picture.pixels[i] = (std::uint32_t(c[0]) << 16) | (std::uint32_t(c[1]) << 8) | c[2];
    }
    return picture;
}

Picture ThemePreview(const ThemePack& pack) {
    char name[16];
    std::snprintf(name, sizeof name, "PREVIEW%02d", pack.order);
    return DecodePreview(ResourceBytes(name));
}

Text ThemePreviewCaption(const ThemePack& pack) {
    return pack.order == 3 ? Text("原始界面") : Text(pack.word) + "界面";
}
