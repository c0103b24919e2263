// The hyperlink box: an address drawn as a link that opens it with the shell,
// with hover and visited colours.
#include <windows.h>
#include <shellapi.h>

#include "runtime/Encoding.h"
#include "runtime/WindowInternal.h"

namespace {

// The shell's own handler for web pages, for when "open" on the address fails.
bool OpenWithHtmHandler(const std::wstring& address) {
    wchar_t klass[256] = {};
    LONG size = sizeof klass;
    if (RegQueryValueW(HKEY_CLASSES_ROOT, L".htm", klass, &size) != ERROR_SUCCESS || !klass[0])
        return false;
    wchar_t command[2048] = {};
    size = sizeof command;
    const std::wstring key = std::wstring(klass) + L"\\shell\\open\\command";
    if (RegQueryValueW(HKEY_CLASSES_ROOT, key.c_str(), command, &size) != ERROR_SUCCESS) return false;
    std::wstring line = command;
    std::size_t cut = line.find(L"\"%1\"");
    if (cut == std::wstring::npos) cut = line.find(L"%1");
    if (cut != std::wstring::npos) line.resize(cut);
    // One quoted argument: an address with a quote of its own, or ending in
    // a backslash (which would escape the closing quote), could not be
    // passed as one, so it is not passed at all.
    const bool quotable = address.find(L'"') == std::wstring::npos && (address.empty() || address.back() != L'\\');
    if (!quotable) return false;
    line += L" \"" + address + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOW;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

void OpenLink(Control& c) {
    if (!c.entry->target || !*c.entry->target) return;
    const std::wstring address = GbkToWide(c.entry->target);
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", address.c_str(), nullptr, nullptr, SW_SHOW));
    if (result > 32 || OpenWithHtmHandler(address)) {
        c.visited = true;
        InvalidateRect(c.hwnd, nullptr, TRUE);
    }
}

void PaintLink(HWND hwnd, Control& c) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT rc;
    GetClientRect(hwnd, &rc);
    FillBackground(dc, hwnd, rc, c);
    const int colour = c.hover ? c.entry->hoverColour : c.visited ? c.entry->visitedColour : c.textColour;
    SetTextColor(dc, ColourOr(colour, GetSysColor(COLOR_HOTLIGHT)));
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ old = SelectObject(dc, c.font);
    std::wstring text = DisplayText(c);
    DrawTextW(dc, text.c_str(), int(text.size()), &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(hwnd, &ps);
}

}  // namespace

LRESULT CALLBACK LinkProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Control* c = ControlByHwnd(FromHwnd(hwnd), hwnd);
    if (!c) return DefWindowProcW(hwnd, msg, wp, lp);
    switch (msg) {
        case WM_PAINT:
            PaintLink(hwnd, *c);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_MOUSEMOVE: {
            RECT rc;
            GetClientRect(hwnd, &rc);
            const POINT pt = {short(LOWORD(lp)), short(HIWORD(lp))};
            if (!PtInRect(&rc, pt)) {
                if (c->hover) ReleaseCapture();
            } else if (!c->hover) {
                // Captured so that leaving the box is seen as a move outside it.
                SetCapture(hwnd);
                c->hover = true;
                InvalidateRect(hwnd, nullptr, TRUE);
            }
            return 0;
        }
        case WM_CAPTURECHANGED:
            if (c->hover) {
                c->hover = false;
                InvalidateRect(hwnd, nullptr, TRUE);
            }
            return 0;
        case WM_LBUTTONDOWN:
            OpenLink(*c);
            return 0;
        case WM_SETCURSOR:
            SetCursor(LoadCursorW(nullptr, IDC_HAND));
            return TRUE;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}
