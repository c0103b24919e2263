#include "runtime/Text.h"

#include <algorithm>
#include <cstring>

namespace {

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

// Does `sought` stand at text[at..]? Only single-byte characters of `sought`
// fold their case; both bytes of a double-byte character compare exactly.
bool MatchesAt(const char* text, const Text& sought, bool ignoreCase) {
    const std::size_t n = sought.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (IsLeadByte(sought[i])) {
            if (text[i] != sought[i]) return false;
            if (i + 1 < n) {
                if (text[i + 1] != sought[i + 1]) return false;
                ++i;
            }
        } else if (ignoreCase ? FoldAscii(text[i]) != FoldAscii(sought[i]) : text[i] != sought[i]) {
            return false;
        }
    }
    return true;
}

int CharWidth(const char* p, std::size_t remaining) {
    return (IsLeadByte(*p) && remaining >= 2) ? 2 : 1;
}

std::uint32_t g_randomState = 1;

}  // namespace

Text BytesToText(ByteSpan bytes) {
    const void* zero = bytes.size ? std::memchr(bytes.data, 0, bytes.size) : nullptr;
    const std::size_t n = zero ? static_cast<const std::uint8_t*>(zero) - bytes.data : bytes.size;
    return Text(reinterpret_cast<const char*>(bytes.data), n);
}

Bytes TextToBytes(const Text& text) {
    const char* p = text.c_str();
    return Bytes(p, p + TextLength(text));
}

Bytes TextToBytes(ByteSpan bytes) { return Bytes(bytes.data, bytes.data + bytes.size); }

int TextLength(const Text& text) { return static_cast<int>(std::strlen(text.c_str())); }

Text MidText(const Text& text, int start, int count) {
    const int len = TextLength(text);
    if (start < 1 || start > len || count <= 0) return Text();
    return text.substr(start - 1, std::min(count, len - start + 1));
}

int FindText(const Text& text, const Text& sought, std::optional<int> start, bool ignoreCase) {
    const std::size_t len = TextLength(text);
    const std::size_t s = start ? std::max(*start - 1, 0) : 0;
    if (s >= len) return -1;
    const std::size_t n = sought.size();
    const char* p = text.c_str();
    for (std::size_t i = s; len - i >= n;) {
        if (MatchesAt(p + i, sought, ignoreCase)) return static_cast<int>(i) + 1;
        i += CharWidth(p + i, len - i);
        if (i >= len) break;
    }
    return -1;
}

Text ReplaceText(const Text& text, const Text& sought, const Text& replacement, int start,
                 std::optional<int> count, bool caseSensitive) {
    const std::size_t len = TextLength(text);
    start = std::max(start, 1);
    if (len == 0 || sought.empty() || std::size_t(start - 1) >= len || (count && *count == 0))
        return text.substr(0, len);
    const int limit = (count && *count > 0) ? *count : -1;
    const std::size_t n = sought.size();
    const char* p = text.c_str();
    Text out(p, start - 1);
    std::size_t i = start - 1;
    int done = 0;
    while (i < len && len - i >= n) {
        if (MatchesAt(p + i, sought, !caseSensitive)) {
            out += replacement;
            i += n;
            if (++done == limit) break;
        } else {
            const int w = CharWidth(p + i, len - i);
            out.append(p + i, w);
            i += w;
        }
    }
    out.append(p + i, len - i);
    return out;
}

int CompareText(const Text& a, const Text& b, bool caseSensitive) {
    const std::size_t la = TextLength(a), lb = TextLength(b);
    std::size_t i = 0;
    while (i < la && i < lb) {
        // Walk character by character so that a trail byte that happens to be an
        // ASCII letter code is never folded.
        const int w = CharWidth(a.c_str() + i, la - i);
        for (int k = 0; k < w && i + k < lb; ++k) {
            unsigned char ca = a[i + k], cb = b[i + k];
            if (w == 1 && !caseSensitive) {
                ca = static_cast<unsigned char>(FoldAscii(char(ca)));
                cb = static_cast<unsigned char>(FoldAscii(char(cb)));
            }
            if (ca != cb) return ca < cb ? -1 : 1;
        }
        i += w;
    }
    if (la == lb) return 0;
    return la < lb ? -1 : 1;
}

Text CutText(const Text& text, int maxBytes) {
    const int len = TextLength(text);
    int n = 0;
    while (n < len) {
        const int w = CharWidth(text.c_str() + n, len - n);
        if (n + w > maxBytes) break;
        n += w;
    }
    return text.substr(0, n);
}

Text SpaceText(int n) { return n < 1 ? Text() : Text(n, ' '); }

Bytes ZeroBytes(int n) { return n < 1 ? Bytes() : Bytes(n, 0); }

int ByteSetLength(ByteSpan bytes) { return static_cast<int>(bytes.size); }

Text TextAtAddress(const void* address) {
    return address ? Text(static_cast<const char*>(address)) : Text();
}

Bytes BytesAtAddress(const void* address, int n) {
    if (!address || n < 1) return Bytes();
    const auto* p = static_cast<const std::uint8_t*>(address);
    return Bytes(p, p + n);
}

std::int32_t BytesToInt(ByteSpan bytes) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4 && i < bytes.size; ++i) v |= std::uint32_t(bytes.data[i]) << (8 * i);
    return static_cast<std::int32_t>(v);
}

int RandomInt(int low, int high) {
    low = std::max(low, 0);
    high = std::max(high, 0);
    const int lo = std::min(low, high), hi = std::max(low, high);
    if (lo == hi) return lo;
    // hi - lo is at most 2147483647; keeping range + 1 inside 32 bits.
    const std::uint32_t range = std::min<std::uint32_t>(std::uint32_t(hi - lo), 2147483646u);
    g_randomState = g_randomState * 214013u + 2531011u;
    const std::uint32_t r = (g_randomState >> 16) & 0x7FFF;
    return lo + static_cast<int>(r % (range + 1));
}

void ResetRandomState() { g_randomState = 1; }
