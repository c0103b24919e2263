#include "GuiDriver.h"

#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

namespace gui {

namespace {

struct FindState {
    DWORD pid;
    const std::wstring* title;
    const wchar_t* klass;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectTopLevel(HWND hwnd, LPARAM param) {
    auto* s = reinterpret_cast<FindState*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != s->pid) return TRUE;
    if (s->visibleOnly && !IsWindowVisible(hwnd)) return TRUE;
    if (s->title && TextOf(hwnd) != *s->title) return TRUE;
    if (s->klass && ClassOf(hwnd) != s->klass) return TRUE;
    s->found.push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

// Every event carries the position, so a button event can never be taken at
// a stale cursor position.
void SendMouse(DWORD flags) {
    POINT p;
    GetCursorPos(&p);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = (p.x * 65535) / (GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = (p.y * 65535) / (GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof in);
}

}  // namespace

namespace {

// As the given token (nullptr: our own), on our desktop or the named one.
Program StartAs(const std::wstring& exe, HANDLE token, std::wstring desktop = std::wstring()) {
    Program p;
    std::wstring folder = exe.substr(0, exe.find_last_of(L'\\'));
    std::wstring command = L"\"" + exe + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    if (!desktop.empty()) si.lpDesktop = desktop.data();
    PROCESS_INFORMATION pi = {};
    const BOOL started =
        token ? CreateProcessAsUserW(token, exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                     folder.c_str(), &si, &pi)
              : CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &si,
                               &pi);
    if (started) {
        CloseHandle(pi.hThread);
        p.process = pi.hProcess;
        p.pid = pi.dwProcessId;
    }
    return p;
}

}  // namespace

Program Start(const std::wstring& exe) { return StartAs(exe, nullptr); }

Program StartOnDesktop(const std::wstring& exe, const std::wstring& desktop) {
    return StartAs(exe, nullptr, desktop);
}

Program StartUnelevated(const std::wstring& exe) {
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &own)) return Program();
    TOKEN_LINKED_TOKEN linked = {};
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    // Only an elevated token has a limited one linked to it.
    const bool elevated = GetTokenInformation(own, TokenElevationType, &type, sizeof type, &size) &&
                          type == TokenElevationTypeFull &&
                          GetTokenInformation(own, TokenLinkedToken, &linked, sizeof linked, &size);
    CloseHandle(own);
    if (!elevated) return Program();
    Program p = StartAs(exe, linked.LinkedToken);
    CloseHandle(linked.LinkedToken);
    return p;
}

bool IsElevated(const Program& p) {
    HANDLE token = nullptr;
    if (!p.process || !OpenProcessToken(p.process, TOKEN_QUERY, &token)) return false;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    const bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
                          elevation.TokenIsElevated;
    CloseHandle(token);
    return elevated;
}

bool WaitForExit(const Program& p, DWORD ms, DWORD* exitCode) {
    if (!p.process || WaitForSingleObject(p.process, ms) != WAIT_OBJECT_0) return false;
    if (exitCode) GetExitCodeProcess(p.process, exitCode);
    return true;
}

void Kill(Program& p) {
    if (p.process) {
        if (WaitForSingleObject(p.process, 0) != WAIT_OBJECT_0) {
            TerminateProcess(p.process, 99);
            WaitForSingleObject(p.process, 5000);
        }
        CloseHandle(p.process);
    }
    p = Program();
}

std::vector<HWND> TopLevelWindows(DWORD pid, bool visibleOnly) {
    FindState s{pid, nullptr, nullptr, visibleOnly, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND FindWindowOf(DWORD pid, const std::wstring& title, const wchar_t* klass) {
    FindState s{pid, &title, klass, true, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&s));
    return s.found.empty() ? nullptr : s.found.front();
}

HWND WaitForWindow(DWORD pid, const std::wstring& title, const wchar_t* klass, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    do {
        if (HWND h = FindWindowOf(pid, title, klass)) return h;
        Sleep(20);
    } while (GetTickCount64() < end);
    return nullptr;
}

HWND WaitForBox(DWORD pid, const std::wstring& caption, DWORD ms) {
    return WaitForWindow(pid, caption, L"#32770", ms);
}

bool WaitGone(HWND hwnd, DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    while (IsWindow(hwnd) && IsWindowVisible(hwnd)) {
        if (GetTickCount64() >= end) return false;
        Sleep(20);
    }
    return true;
}

std::wstring TextOf(HWND hwnd) {
    // WM_GETTEXT rather than GetWindowText: the latter does not read the
    // controls of another process.
    wchar_t buf[8192] = {};
    SendMessageTimeoutW(hwnd, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, nullptr);
    return buf;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t buf[256] = {};
    GetClassNameW(hwnd, buf, 256);
    return buf;
}

std::wstring BoxText(HWND box) { return TextOf(GetDlgItem(box, 0xFFFF)); }

std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> out;
    EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&out));
    return out;
}

HWND ChildWithText(HWND parent, const std::wstring& text) {
    for (HWND h : Children(parent))
        if (TextOf(h) == text) return h;
    return nullptr;
}

HWND ButtonOf(HWND dialog, const std::wstring& caption) {
    for (HWND h : Children(dialog)) {
        if (ClassOf(h) != L"Button") continue;
        std::wstring t = TextOf(h);
        // Captions may carry an accelerator such as "&Yes" or "是(&Y)".
        std::wstring plain;
        for (std::size_t i = 0; i < t.size(); ++i) {
            if (t[i] == L'&') continue;
            if (t[i] == L'(' && i + 3 < t.size() + 1 && t.find(L')', i) != std::wstring::npos) break;
            plain += t[i];
        }
        if (plain == caption || t == caption) return h;
    }
    return nullptr;
}

void Press(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

RECT WindowRect(HWND hwnd) {
    RECT rc = {};
    GetWindowRect(hwnd, &rc);
    return rc;
}

POINT Centre(HWND hwnd) {
    const RECT rc = WindowRect(hwnd);
    return {(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

void MoveMouse(int x, int y) {
    SetCursorPos(x, y);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = (x * 65535) / (GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = (y * 65535) / (GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof in);
    Settle(100);
}

void Click(int x, int y, bool right) {
    MoveMouse(x, y);
    SendMouse(right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN);
    Settle(60);
    SendMouse(right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP);
    Settle();
}

HWND ClickControlAt(int x, int y) {
    // Wine's synthetic input may reach the program at the previous cursor
    // position; the window under the point gets the button messages directly.
    const POINT screen = {x, y};
    HWND target = WindowFromPoint(screen);
    if (!target) return nullptr;
    POINT client = screen;
    ScreenToClient(target, &client);
    const LPARAM at = MAKELPARAM(client.x, client.y);
    SetCursorPos(x, y);
    PostMessageW(target, WM_MOUSEMOVE, 0, at);
    PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(target, WM_LBUTTONUP, 0, at);
    Settle();
    return target;
}

void Key(WORD vk, bool alt) {
    INPUT in[4] = {};
    int n = 0;
    if (alt) { in[n].type = INPUT_KEYBOARD; in[n].ki.wVk = VK_MENU; ++n; }
    in[n].type = INPUT_KEYBOARD; in[n].ki.wVk = vk; ++n;
    in[n].type = INPUT_KEYBOARD; in[n].ki.wVk = vk; in[n].ki.dwFlags = KEYEVENTF_KEYUP; ++n;
    if (alt) { in[n].type = INPUT_KEYBOARD; in[n].ki.wVk = VK_MENU; in[n].ki.dwFlags = KEYEVENTF_KEYUP; ++n; }
    SendInput(n, in, sizeof in[0]);
    Settle();
}

void Type(const std::wstring& text) {
    for (wchar_t ch : text) {
        INPUT in[2] = {};
        in[0].type = in[1].type = INPUT_KEYBOARD;
        in[0].ki.wScan = in[1].ki.wScan = ch;
        in[0].ki.dwFlags = KEYEVENTF_UNICODE;
        in[1].ki.dwFlags = KEYEVENTF_UNICODE | KEYEVENTF_KEYUP;
        SendInput(2, in, sizeof in[0]);
    }
    Settle();
}

void Settle(DWORD ms) { Sleep(ms); }

namespace {

bool IconGold(COLORREF c) {
    return GetRValue(c) > 200 && GetGValue(c) > 150 && GetGValue(c) < 215 && GetBValue(c) < 160;
}

}  // namespace

bool TrayIconShown() {
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    if (!tray) return false;
    const RECT rc = WindowRect(tray);
    HDC dc = GetDC(nullptr);
    int gold = 0;
    for (int y = rc.top; y < rc.bottom; ++y)
        for (int x = rc.right - 200; x < rc.right; ++x) gold += IconGold(GetPixel(dc, x, y));
    ReleaseDC(nullptr, dc);
    return gold > 10;
}

POINT TrayIconPoint() {
    HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr);
    POINT at = {-1, -1};
    if (!tray) return at;
    const RECT rc = WindowRect(tray);
    HDC dc = GetDC(nullptr);
    for (int x = rc.right - 200; x < rc.right && at.x < 0; ++x)
        for (int y = rc.top; y < rc.bottom; ++y)
            if (IconGold(GetPixel(dc, x, y))) {
                at = {x + 4, (rc.top + rc.bottom) / 2};
                break;
            }
    ReleaseDC(nullptr, dc);
    return at;
}

void ClickTrayIcon(bool right) {
    const POINT at = TrayIconPoint();
    HWND tray = WindowFromPoint(at);
    POINT client = at;
    ScreenToClient(tray, &client);
    const LPARAM lp = MAKELPARAM(client.x, client.y);
    SetCursorPos(at.x, at.y);
    PostMessageW(tray, right ? WM_RBUTTONDOWN : WM_LBUTTONDOWN, right ? MK_RBUTTON : MK_LBUTTON, lp);
    PostMessageW(tray, right ? WM_RBUTTONUP : WM_LBUTTONUP, 0, lp);
    Settle(300);
}

bool ChooseTrayMenuItem(int n) {
    ClickTrayIcon(true);
    HWND menu = nullptr;
    for (int i = 0; i < 100 && !menu; ++i, Sleep(20)) menu = FindWindowW(L"#32768", nullptr);
    if (!menu) return false;
    for (int i = 0; i < n; ++i) Key(VK_DOWN);
    Key(VK_RETURN);
    return true;
}

std::wstring ClipboardText() {
    std::wstring out;
    for (int attempt = 0; attempt < 20 && !OpenClipboard(nullptr); ++attempt) Sleep(50);
    if (HANDLE h = GetClipboardData(CF_UNICODETEXT)) {
        if (auto* p = static_cast<const wchar_t*>(GlobalLock(h))) {
            out = p;
            GlobalUnlock(h);
        }
    }
    CloseClipboard();
    return out;
}

void ClearClipboard() {
    if (OpenClipboard(nullptr)) {
        EmptyClipboard();
        CloseClipboard();
    }
}

bool SaveScreenshot(const std::wstring& path) {
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    const DWORD stride = ((w * 3 + 3) & ~3), size = stride * h;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
    fh.bfSize = fh.bfOffBits + size;
    bool ok = false;
    if (FILE* f = _wfopen(path.c_str(), L"wb")) {
        ok = fwrite(&fh, sizeof fh, 1, f) == 1 && fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f) == 1 &&
             fwrite(bits, size, 1, f) == 1;
        fclose(f);
    }
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok;
}

std::wstring EnvPath(const char* name) {
    const char* v = std::getenv(name);
    std::wstring out;
    for (const char* p = v ? v : ""; *p; ++p) out += *p == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(*p));
    return out;
}

std::string PackResource(const std::wstring& exe, int order) {
    HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    wchar_t name[16];
    wsprintfW(name, L"PACK%02d", order);
    std::string out;
    if (HRSRC r = FindResourceW(image, name, MAKEINTRESOURCEW(10)))
        out.assign(static_cast<const char*>(LockResource(LoadResource(image, r))), SizeofResource(image, r));
    FreeLibrary(image);
    return out;
}

void RemoveTree(const std::wstring& path) {
    std::wstring from = path;
    from.push_back(L'\0');  // the list of names ends with an empty one
    SHFILEOPSTRUCTW op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NO_UI;
    SHFileOperationW(&op);
}

}  // namespace gui
