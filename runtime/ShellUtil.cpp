#include "runtime/ShellUtil.h"

#include <windows.h>
#include <shellapi.h>

#include <cstring>

#include "runtime/Encoding.h"

bool OpenWideUrl(const std::wstring& address) {
    HWND owner = FindWindowW(nullptr, L"Microsoft Internet Explorer");
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(owner, L"open", address.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

bool OpenUrl(const Text& address) { return OpenWideUrl(GbkToWide(address)); }

bool SetClipboardText(const Text& text) {
    if (!OpenClipboard(nullptr)) return false;
    EmptyClipboard();
    // Stored as Unicode so that a reader on a system with another ANSI code
    // page gets the same characters; the system derives CF_TEXT from it.
    const std::wstring wide = GbkToWide(text);
    const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    bool ok = false;
    if (HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes)) {
        if (void* p = GlobalLock(block)) {
            std::memcpy(p, wide.c_str(), bytes);
            GlobalUnlock(block);
            ok = SetClipboardData(CF_UNICODETEXT, block) != nullptr;
        }
        // Once handed over the clipboard owns the block.
        if (!ok) GlobalFree(block);
    }
    CloseClipboard();
    return ok;
}
