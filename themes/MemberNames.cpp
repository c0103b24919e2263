#include "themes/MemberNames.h"

#include <windows.h>

#include <cwctype>

#include "runtime/Encoding.h"

namespace {

std::wstring Decode(const char* stored, unsigned length, unsigned codePage) {
    if (length == 0) return std::wstring();
    // Strict: a byte run the code page cannot read is refused, not replaced.
    const int n = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, stored, int(length), nullptr, 0);
    if (n <= 0) return std::wstring();
    std::wstring wide(std::size_t(n), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, stored, int(length), wide.data(), n);
    return wide;
}

bool SafeLevel(const std::wstring& level) {
    if (level.empty() || level.find_first_not_of(L'.') == std::wstring::npos) return false;
    // Windows drops a trailing dot or space, so the file would land under another name.
    if (level.back() == L'.' || level.back() == L' ') return false;
    for (wchar_t c : level)
        if (c < 0x20 || std::wcschr(L"<>:\"|?*", c)) return false;
    // Our staged and set-aside copies must never be taken for a member, in
    // any letter case: Windows finds x.VELMORA-NEW under x.velmora-new.
    std::wstring upper = level;
    for (wchar_t& c : upper) c = wchar_t(std::towupper(c));
    if (upper.find(L".VELMORA-") != std::wstring::npos) return false;
    return !IsDeviceName(level);
}

}  // namespace

bool IsDeviceName(const std::wstring& level) {
    std::wstring base = level.substr(0, level.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base) c = wchar_t(std::towupper(c));
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CLOCK$", L"CONIN$", L"CONOUT$"})
        if (base == device) return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

std::wstring DecodeMemberName(const char* stored, unsigned length, unsigned flags) {
    if (length == 0 || length > kMaxMemberNameBytes) return std::wstring();
    std::wstring name = Decode(stored, length, (flags & kZipFlagUtf8) ? CP_UTF8 : kGbkCodePage);
    // A directory member's own trailing separator is the only empty level allowed.
    if (!name.empty() && (name.back() == L'/' || name.back() == L'\\')) name.pop_back();
    if (name.empty()) return std::wstring();
    // Split the decoded text: a GBK trail byte 0x5C is part of a character, not a separator.
    std::wstring out;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= name.size(); ++i) {
        if (i < name.size() && name[i] != L'/' && name[i] != L'\\') continue;
        const std::wstring level = name.substr(start, i - start);
        if (!SafeLevel(level)) return std::wstring();
        if (!out.empty()) out += L'\\';
        out += level;
        start = i + 1;
    }
    return out;
}
