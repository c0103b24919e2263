// The notification-area icon of a window: added, changed and removed, added
// again when the shell makes its taskbar anew, and a balloon from it.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>

#include "runtime/Encoding.h"
#include "runtime/WindowInternal.h"

// For tests: every change to our icon, and every pop-up of its menu, is
// written to the file VELMORA_TRAY_LOG names, one line each (under Wine
// neither the shell's tray nor another process's menu can be read back).
void LogTray(const char* what, const std::wstring& detail) {
    const wchar_t* path = _wgetenv(L"VELMORA_TRAY_LOG");
    if (!path || !*path) return;
    std::string utf8(detail.size() * 4 + 1, '\0');
    utf8.resize(WideCharToMultiByte(CP_UTF8, 0, detail.c_str(), int(detail.size()), utf8.data(), int(utf8.size()),
                                    nullptr, nullptr));
    if (FILE* f = _wfopen(path, L"ab")) {
        std::fprintf(f, "%s %s\n", what, utf8.c_str());
        std::fclose(f);
    }
}

namespace {

constexpr int kTipBytes = 62;

NOTIFYICONDATAW IconData(const Window* w) {
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = w->hwnd;
    data.uID = kTrayIconId;
    return data;
}

// The first image of an ICO file, made into an icon of the given size.
HICON IconFromFile(ByteSpan file, int size) {
    if (file.size < 22 || BytesToInt(ByteSpan(file.data, 2)) != 0 || file.data[2] != 1 ||
        file.data[4] == 0)
        return nullptr;
    const std::uint32_t bytes = std::uint32_t(BytesToInt(ByteSpan(file.data + 14, 4)));
    const std::uint32_t offset = std::uint32_t(BytesToInt(ByteSpan(file.data + 18, 4)));
    if (offset > file.size || bytes > file.size - offset || bytes == 0) return nullptr;
    return CreateIconFromResourceEx(const_cast<BYTE*>(file.data + offset), bytes, TRUE, 0x00030000,
                                    size, size, LR_DEFAULTCOLOR);
}

// The entry with its callback, picture and tip.
NOTIFYICONDATAW FullIconData(const Window* w, HICON icon) {
    NOTIFYICONDATAW data = IconData(w);
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayCallbackMessage;
    data.hIcon = icon;
    wcsncpy(data.szTip, w->trayTip.c_str(), ARRAYSIZE(data.szTip) - 1);
    return data;
}

bool AddIcon(Window* w) {
    NOTIFYICONDATAW data = FullIconData(w, w->trayIcon);
    const bool added = Shell_NotifyIconW(NIM_ADD, &data) != 0;
    LogTray(added ? "add" : "add-failed", w->trayTip);
    return added;
}

}  // namespace

void DeleteTrayIcon(Window* w) {
    if (w->trayAdded) {
        NOTIFYICONDATAW data = IconData(w);
        Shell_NotifyIconW(NIM_DELETE, &data);
        LogTray("delete");
        w->trayAdded = false;
    }
    if (w->trayIcon) {
        DestroyIcon(w->trayIcon);
        w->trayIcon = nullptr;
    }
}

int TrayKind(LPARAM lp) {
    switch (LOWORD(lp)) {
        case WM_LBUTTONUP: return 1;
        case WM_LBUTTONDBLCLK: return 2;
        case WM_RBUTTONUP:
        case WM_CONTEXTMENU: return 3;
        // The pointer over the icon, or a button going down on it: a click
        // may follow, and whatever it opens can be made ready meanwhile.
        case WM_MOUSEMOVE:
        case WM_RBUTTONDOWN: return 4;
    }
    return 0;
}

UINT TaskbarCreatedMessage() {
    static const UINT message = RegisterWindowMessageW(L"TaskbarCreated");
    return message;
}

// A new taskbar knows no icons: ours goes back with its picture and tip.
// (Our record of having added it is stale, so it is added, not modified.)
void AddTrayIconAgain(Window* w) {
    if (!w->trayAdded || !w->trayIcon) return;
    w->trayAdded = AddIcon(w);
}

void SetTrayIcon(WindowRef window, ByteSpan icon, const Text& tip) {
    if (!WindowAlive(window)) return;
    HICON made = IconFromFile(icon, GetSystemMetrics(SM_CXSMICON));
    if (!made) made = IconFromFile(icon, GetSystemMetrics(SM_CXICON));
    window->trayTip = GbkToWide(CutText(tip, kTipBytes));
    if (window->trayAdded) {
        NOTIFYICONDATAW data = FullIconData(window, made);
        if (made) {
            Shell_NotifyIconW(NIM_MODIFY, &data);
            LogTray("modify", window->trayTip);
        } else {
            Shell_NotifyIconW(NIM_DELETE, &data);
            LogTray("delete");
            window->trayAdded = false;
        }
        if (window->trayIcon) DestroyIcon(window->trayIcon);
        window->trayIcon = made;
    } else if (made) {
        window->trayIcon = made;
        window->trayAdded = AddIcon(window);
    }
}

void ShowTrayBalloon(WindowRef window, const Text& title, const Text& text) {
    if (!WindowAlive(window) || !window->trayAdded) return;
    NOTIFYICONDATAW data = IconData(window);
    data.uFlags = NIF_INFO;
    data.dwInfoFlags = NIIF_INFO;
    const std::wstring wideTitle = GbkToWide(title), wideText = GbkToWide(text);
    wcsncpy(data.szInfoTitle, wideTitle.c_str(), ARRAYSIZE(data.szInfoTitle) - 1);
    wcsncpy(data.szInfo, wideText.c_str(), ARRAYSIZE(data.szInfo) - 1);
    Shell_NotifyIconW(NIM_MODIFY, &data);
    LogTray("balloon", wideTitle + L"|" + wideText);
}
