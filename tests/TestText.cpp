#include "TestText.h"

#include <windows.h>

namespace {

std::string Encode(UINT codePage, const std::wstring& w, std::size_t bytesPerChar) {
    std::string out(w.size() * bytesPerChar + 1, '\0');
    out.resize(WideCharToMultiByte(codePage, 0, w.c_str(), int(w.size()), out.data(), int(out.size()), nullptr,
                                   nullptr));
    return out;
}

}  // namespace

std::string Gbk(const std::wstring& w) { return Encode(936, w, 2); }

std::string Utf8(const std::wstring& w) { return Encode(CP_UTF8, w, 4); }
