#include "runtime/Encoding.h"

#include <windows.h>

namespace {

std::wstring MultiToWide(unsigned codePage, const char* p, int n) {
    if (n <= 0) return std::wstring();
    const int wn = MultiByteToWideChar(codePage, 0, p, n, nullptr, 0);
    if (wn <= 0) return std::wstring();
    std::wstring out(wn, L'\0');
    MultiByteToWideChar(codePage, 0, p, n, out.data(), wn);
    return out;
}

}  // namespace

std::wstring GbkToWide(const Text& text) {
    return MultiToWide(kGbkCodePage, text.c_str(), TextLength(text));
}

std::wstring Utf8ToWide(ByteSpan utf8) {
    return MultiToWide(CP_UTF8, reinterpret_cast<const char*>(utf8.data), int(utf8.size));
}

Text WideToGbk(const wchar_t* wide, int length) {
    if (!wide) return Text();
    if (length < 0) length = int(wcslen(wide));
    if (length == 0) return Text();
    const int n = WideCharToMultiByte(kGbkCodePage, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return Text();
    Text out(n, '\0');
    WideCharToMultiByte(kGbkCodePage, 0, wide, length, out.data(), n, nullptr, nullptr);
    // A text ends at its first zero byte.
    out.resize(TextLength(out));
    return out;
}

std::string WideToUtf8(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}
