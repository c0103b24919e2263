#include "runtime/LongPath.h"

#include <windows.h>

namespace {

const wchar_t kPrefix[] = L"\\\\?\\";
const wchar_t kUncPrefix[] = L"\\\\?\\UNC\\";

}  // namespace

std::wstring ExtendedPath(const std::wstring& path) {
    if (path.empty() || path.find(L'\0') != std::wstring::npos) return std::wstring();
    if (path.compare(0, 4, kPrefix) == 0) return path;
    // GetFullPathNameW resolves "." and "..", the current folder and drive,
    // and turns "/" into "\", which the "\\?\" form would not do for us.
    DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (n == 0) return std::wstring();
    std::wstring full(n, L'\0');
    n = GetFullPathNameW(path.c_str(), DWORD(full.size()), full.data(), nullptr);
    if (n == 0 || n >= full.size()) return std::wstring();
    full.resize(n);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    if (full.compare(0, 2, L"\\\\") == 0) return kUncPrefix + full.substr(2);
    return kPrefix + full;
}

std::wstring PlainPath(const std::wstring& extended) {
    if (extended.compare(0, 8, kUncPrefix) == 0) return L"\\\\" + extended.substr(8);
    if (extended.compare(0, 4, kPrefix) == 0) return extended.substr(4);
    return extended;
}
