// Texts and byte sets as the program's logic sees them.
//
// A Text holds GBK (code page 936) bytes; lengths and positions count bytes and
// positions are 1-based. Case folding touches ASCII letters only, and scans step
// over double-byte characters whole so that a trail byte is never taken for the
// start of a match. A byte set may hold zero bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using Text = std::string;
using Bytes = std::vector<std::uint8_t>;

// A borrowed run of bytes: a byte set, a text's bytes or a block of memory
// (an embedded resource), so large data can be passed without copying it.
struct ByteSpan {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;

    ByteSpan() = default;
    ByteSpan(const void* p, std::size_t n) : data(static_cast<const std::uint8_t*>(p)), size(n) {}
    ByteSpan(const Bytes& b) : data(b.data()), size(b.size()) {}
};

// Is this byte the first of a double-byte GBK character?
inline bool IsLeadByte(char c) { return static_cast<unsigned char>(c) >= 0x80; }

Text BytesToText(ByteSpan bytes);
Bytes TextToBytes(const Text& text);
Bytes TextToBytes(ByteSpan bytes);
int TextLength(const Text& text);
Text MidText(const Text& text, int start, int count);
int FindText(const Text& text, const Text& sought, std::optional<int> start = std::nullopt,
             bool ignoreCase = false);
Text ReplaceText(const Text& text, const Text& sought, const Text& replacement = Text(),
                 int start = 1, std::optional<int> count = std::nullopt, bool caseSensitive = false);
int CompareText(const Text& a, const Text& b, bool caseSensitive);

// At most maxBytes bytes of the text, never splitting a double-byte character.
Text CutText(const Text& text, int maxBytes);
Text SpaceText(int n);
Bytes ZeroBytes(int n);
int ByteSetLength(ByteSpan bytes);
Text TextAtAddress(const void* address);
Bytes BytesAtAddress(const void* address, int n);
std::int32_t BytesToInt(ByteSpan bytes);

template <typename... T>
std::int32_t BitAnd(std::int32_t first, T... rest) { return (first & ... & std::int32_t(rest)); }
template <typename... T>
std::int32_t BitOr(std::int32_t first, T... rest) { return (first | ... | std::int32_t(rest)); }

// The fixed linear congruential generator: the same sequence on every run.
int RandomInt(int low = 0, int high = 2147483647);
void ResetRandomState();
