#include "themes/ZipReadBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr uLong kWindow = 64 * 1024;

struct Stream {
    zlib_filefunc64_def* inner;
    voidpf file;
    std::vector<char> window;
    ZPOS64_T windowStart = 0;  // file offset of window[0]
    uLong windowLength = 0;
    ZPOS64_T position = 0;     // where minizip reads next
    bool failed = false;
};

voidpf Open(voidpf opaque, const void* name, int mode) {
    auto* inner = static_cast<zlib_filefunc64_def*>(opaque);
    voidpf file = inner->zopen64_file(inner->opaque, name, mode);
    if (!file) return nullptr;
    auto* s = new (std::nothrow) Stream{inner, file, {}};
    if (!s) {
        inner->zclose_file(inner->opaque, file);
        return nullptr;
    }
    s->window.resize(kWindow);
    return s;
}

bool SeekInner(Stream* s, ZPOS64_T to) {
    return s->inner->zseek64_file(s->inner->opaque, s->file, to, ZLIB_FILEFUNC_SEEK_SET) == 0;
}

uLong Read(voidpf, voidpf stream, void* out, uLong size) {
    auto* s = static_cast<Stream*>(stream);
    auto* to = static_cast<char*>(out);
    uLong done = 0;
    while (done < size) {
        if (s->position >= s->windowStart && s->position < s->windowStart + s->windowLength) {
            const uLong at = uLong(s->position - s->windowStart);
            const uLong n = std::min<uLong>(size - done, s->windowLength - at);
            std::memcpy(to + done, s->window.data() + at, n);
            done += n;
            s->position += n;
            continue;
        }
        if (!SeekInner(s, s->position)) {
            s->failed = true;
            break;
        }
        const uLong got = s->inner->zread_file(s->inner->opaque, s->file, s->window.data(), kWindow);
        s->windowStart = s->position;
        s->windowLength = got;
        if (got == 0) break;  // end of the file
    }
    return done;
}

uLong Write(voidpf, voidpf, const void*, uLong) { return 0; }  // read-only

ZPOS64_T Tell(voidpf, voidpf stream) { return static_cast<Stream*>(stream)->position; }

long Seek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* s = static_cast<Stream*>(stream);
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET: s->position = offset; return 0;
        case ZLIB_FILEFUNC_SEEK_CUR: s->position += offset; return 0;
        case ZLIB_FILEFUNC_SEEK_END:
            if (s->inner->zseek64_file(s->inner->opaque, s->file, offset, ZLIB_FILEFUNC_SEEK_END) != 0) return -1;
            s->position = s->inner->ztell64_file(s->inner->opaque, s->file);
            return 0;
        default: return -1;
    }
}

int Close(voidpf, voidpf stream) {
    auto* s = static_cast<Stream*>(stream);
    const int result = s->inner->zclose_file(s->inner->opaque, s->file);
    delete s;
    return result;
}

int Error(voidpf, voidpf stream) {
    auto* s = static_cast<Stream*>(stream);
    return s->failed ? 1 : s->inner->zerror_file(s->inner->opaque, s->file);
}

}  // namespace

void FillBufferedIo(zlib_filefunc64_def* def, zlib_filefunc64_def* inner) {
    def->zopen64_file = Open;
    def->zread_file = Read;
    def->zwrite_file = Write;
    def->ztell64_file = Tell;
    def->zseek64_file = Seek;
    def->zclose_file = Close;
    def->zerror_file = Error;
    def->opaque = inner;
}
