#include "runtime/PreviewPopup.h"

#include <windows.h>

#include <string>

#include "runtime/Encoding.h"
#include "runtime/ScopedHandle.h"
#include "runtime/WindowInternal.h"

namespace {

constexpr wchar_t kPreviewClass[] = L"VelmoraPreview";
constexpr UINT_PTR kWatchTimer = 1;
constexpr UINT kWatchMs = 50;
// Layout of the pop-up at 96 DPI: a margin round the picture, the caption under it.
constexpr int kMargin = 6, kCaptionHeight = 20, kGap = 8;
constexpr COLORREF kBackground = RGB(24, 24, 28), kCaptionColour = RGB(235, 235, 235);

enum class Reason { None, Hover, Focus };

struct State {
    HWND popup = nullptr;
    Window* window = nullptr;  // whose control the pop-up or the waiting hover belongs to
    // The pointer's control and since when it rests there; spent after a
    // click, so that the pop-up does not come back until the pointer leaves.
    HWND hovered = nullptr;
    DWORD hoverSince = 0;
    bool hoverSpent = false;
    HWND shownFor = nullptr;
    Reason reason = Reason::None;
    Picture picture;
    std::wstring caption;
    HFONT font = nullptr;
};

State g;

int Scaled(int n, int dpi) { return MulDiv(n, dpi, 96); }

int ScreenDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

Control* PointedControl(Window* w, HWND hwnd) {
    Control* c = ControlByHwnd(w, hwnd);
    return c && c->entry->onPointedAt && IsWindowEnabled(hwnd) && IsWindowVisible(hwnd) ? c : nullptr;
}

bool WindowIsActive(const Window* w) { return w && w->hwnd && GetActiveWindow() == w->hwnd && !IsIconic(w->hwnd); }

void Paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT client;
    GetClientRect(hwnd, &client);
    ScopedGdiObject back(CreateSolidBrush(kBackground));
    FillRect(dc, &client, static_cast<HBRUSH>(back.get()));
    const int dpi = ScreenDpi();
    const Picture& p = g.picture;
    if (p.width > 0 && p.height > 0) {
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = p.width;
        info.bmiHeader.biHeight = -p.height;  // rows top to bottom
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        // At 96 DPI one pixel is one pixel; scaled, halftone keeps the sprites' edges.
        SetStretchBltMode(dc, dpi == 96 ? COLORONCOLOR : HALFTONE);
        SetBrushOrgEx(dc, 0, 0, nullptr);
        StretchDIBits(dc, Scaled(kMargin, dpi), Scaled(kMargin, dpi), Scaled(p.width, dpi), Scaled(p.height, dpi), 0,
                      0, p.width, p.height, p.pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    }
    RECT text = {Scaled(kMargin, dpi), Scaled(kMargin + p.height, dpi), client.right - Scaled(kMargin, dpi),
                 client.bottom - Scaled(2, dpi)};
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, kCaptionColour);
    HGDIOBJ old = SelectObject(dc, g.font ? g.font : GetStockObject(DEFAULT_GUI_FONT));
    DrawTextW(dc, g.caption.c_str(), int(g.caption.size()), &text, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
    EndPaint(hwnd, &ps);
}

void StopWatchingIfIdle(HWND under) {
    const bool overWindow = g.window && g.window->hwnd && (under == g.window->hwnd || IsChild(g.window->hwnd, under));
    if (g.popup && !g.hovered && g.reason == Reason::None && !overWindow) KillTimer(g.popup, kWatchTimer);
}

// Every 50 ms while a hover waits or the pop-up shows: the rules that close
// it, and the rest that opens it.
void Watch() {
    POINT cursor;
    GetCursorPos(&cursor);
    const HWND under = WindowFromPoint(cursor);
    if (!WindowIsActive(g.window)) {
        HidePreviewPopup();
        g.hovered = nullptr;
    }
    if (g.reason == Reason::Hover && under != g.shownFor) HidePreviewPopup();
    if (g.hovered && under != g.hovered) g.hovered = nullptr;
    // A box the pointer reached without a move message seen (moves are merged).
    if (!g.hovered && WindowIsActive(g.window) && PointedControl(g.window, under)) {
        g.hovered = under;
        g.hoverSince = GetTickCount();
        g.hoverSpent = false;
    }
    if (g.reason == Reason::Focus && GetFocus() != g.shownFor) HidePreviewPopup();
    if (g.hovered && !g.hoverSpent && g.shownFor != g.hovered && GetTickCount() - g.hoverSince >= kPreviewHoverMs) {
        if (Control* c = PointedControl(g.window, g.hovered)) {
            g.hoverSpent = true;  // once per stay
            const HWND before = g.shownFor;
            c->entry->onPointedAt(c->entry->name);
            if (g.shownFor && g.shownFor != before) g.reason = Reason::Hover;
        }
    }
    StopWatchingIfIdle(under);
}

LRESULT CALLBACK PopupProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_MOUSEACTIVATE: return MA_NOACTIVATE;
        case WM_NCHITTEST: return HTTRANSPARENT;  // the pointer belongs to what is underneath
        case WM_PAINT: Paint(hwnd); return 0;
        case WM_ERASEBKGND: return 1;
        case WM_TIMER:
            if (wp == kWatchTimer) Watch();
            return 0;
        case WM_DESTROY:
            if (g.popup == hwnd) g = State();
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

HWND PopupWindow(Window* w) {
    if (g.popup && IsWindow(g.popup)) return g.popup;
    static bool registered = false;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!registered) {
        WNDCLASSEXW wc = {};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = PopupProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kPreviewClass;
        registered = RegisterClassExW(&wc) != 0;
    }
    // Owned by the main window: above it, gone with it; a tool window, so no
    // taskbar button; never activated.
    g.popup = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_TOPMOST, kPreviewClass, L"",
                              WS_POPUP | WS_BORDER, 0, 0, 1, 1, w->hwnd, nullptr, instance, nullptr);
    return g.popup;
}

void StartWatching() {
    if (g.popup) SetTimer(g.popup, kWatchTimer, kWatchMs, nullptr);
}

}  // namespace

void ShowPreviewPopup(WindowRef window, const char* control, const Picture& picture, const Text& caption) {
    Window* w = window;
    if (!WindowIsActive(w) || picture.width <= 0 || picture.height <= 0) return;
    Control* c = nullptr;
    for (Control& candidate : w->controls)
        if (std::string(candidate.entry->name) == control) c = &candidate;
    if (!c || !c->hwnd || !PopupWindow(w)) return;
    g.window = w;
    g.picture = picture;
    g.caption = GbkToWide(caption);
    g.font = c->font;
    g.shownFor = c->hwnd;
    g.reason = Reason::Focus;  // the hover that asked says so after this returns
    // Also its window text: what screen readers and the tests read.
    SetWindowTextW(g.popup, g.caption.c_str());

    const int dpi = ScreenDpi();
    RECT frame = {0, 0, Scaled(picture.width + 2 * kMargin, dpi),
                  Scaled(picture.height + kMargin + kCaptionHeight, dpi)};
    AdjustWindowRectEx(&frame, WS_POPUP | WS_BORDER, FALSE, WS_EX_TOOLWINDOW);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    RECT box;
    GetWindowRect(c->hwnd, &box);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(c->hwnd, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    // Beside the box, to its right, or to its left where the right has no room.
    int x = box.right + Scaled(kGap, dpi);
    if (x + width > work.right) x = box.left - Scaled(kGap, dpi) - width;
    if (x < work.left) x = work.left;
    int y = box.top;
    if (y + height > work.bottom) y = work.bottom - height;
    if (y < work.top) y = work.top;
    SetWindowPos(g.popup, HWND_TOPMOST, x, y, width, height, SWP_NOACTIVATE | SWP_SHOWWINDOW);
    InvalidateRect(g.popup, nullptr, TRUE);
    UpdateWindow(g.popup);
    StartWatching();
}

void HidePreviewPopup() {
    if (g.popup && IsWindowVisible(g.popup)) ShowWindow(g.popup, SW_HIDE);
    g.shownFor = nullptr;
    g.reason = Reason::None;
}

bool PreviewPopupShown() { return g.popup && IsWindowVisible(g.popup); }

bool PreviewSeesMessage(Window* w, const MSG& msg) {
    switch (msg.message) {
        case WM_MOUSEMOVE:
            if (g.reason == Reason::Hover && msg.hwnd != g.shownFor) HidePreviewPopup();
            if (msg.hwnd != g.hovered) {
                g.hovered = PointedControl(w, msg.hwnd) ? msg.hwnd : nullptr;
                g.hoverSince = GetTickCount();
                g.hoverSpent = false;
                g.window = w;
                if (g.hovered && PopupWindow(w)) StartWatching();
            }
            return false;
        case WM_LBUTTONDOWN: case WM_RBUTTONDOWN: case WM_MBUTTONDOWN:
        case WM_NCLBUTTONDOWN: case WM_NCRBUTTONDOWN:
            HidePreviewPopup();
            g.hoverSpent = true;
            return false;
        case WM_KEYDOWN:
            if (msg.wParam == VK_ESCAPE && PreviewPopupShown()) {
                // Esc takes the pop-up away; only the next one asks to close the window.
                HidePreviewPopup();
                g.hoverSpent = true;
                return true;
            }
            if (msg.wParam == VK_SPACE) {
                // The keyboard's click on a box.
                HidePreviewPopup();
                g.hoverSpent = true;
            }
            return false;
    }
    return false;
}

void PreviewAfterKey(Window* w, HWND focusBefore, const MSG& msg) {
    if (msg.message != WM_KEYDOWN) return;
    const HWND focus = GetFocus();
    if (focus == focusBefore) return;
    if (Control* c = PointedControl(w, focus)) {
        g.window = w;
        c->entry->onPointedAt(c->entry->name);
    } else if (g.reason == Reason::Focus) {
        HidePreviewPopup();
    }
}
