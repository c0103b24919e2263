#include "runtime/Window.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "runtime/Encoding.h"
#include "runtime/PreviewPopup.h"
#include "runtime/Process.h"
#include "runtime/ScopedHandle.h"
#include "runtime/SingleInstance.h"
#include "runtime/WindowInternal.h"

namespace {

constexpr int kFirstControlId = 1000;  // clear of IDOK and IDCANCEL

std::vector<Window*> g_windows;

Control* FindControl(Window* w, const char* name) {
    if (!w || !name || !*name) return nullptr;
    for (Control& c : w->controls)
        if (std::strcmp(c.entry->name, name) == 0) return &c;
    return nullptr;
}

Control* ControlById(Window* w, int id) {
    const int i = id - kFirstControlId;
    return (w && i >= 0 && i < int(w->controls.size())) ? &w->controls[i] : nullptr;
}

}  // namespace

Window* FromHwnd(HWND hwnd) {
    for (Window* w : g_windows)
        if (w->hwnd == hwnd || (w->hwnd && IsChild(w->hwnd, hwnd))) return w;
    return nullptr;
}

Control* ControlByHwnd(Window* w, HWND hwnd) {
    if (!w) return nullptr;
    for (Control& c : w->controls)
        if (c.hwnd == hwnd) return &c;
    return nullptr;
}

COLORREF ColourOr(int colour, COLORREF fallback) {
    return colour == kDefaultColour ? fallback : COLORREF(colour);
}

// A control without a background colour of its own takes the one its parent
// answers, as the system's controls do; a window skin may answer for it.
void FillBackground(HDC dc, HWND hwnd, const RECT& rc, const Control& c) {
    const int bg = c.entry->background;
    if (bg == kDefaultColour) {
        const COLORREF text = GetTextColor(dc);
        auto brush = reinterpret_cast<HBRUSH>(
            SendMessageW(GetParent(hwnd), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)));
        SetTextColor(dc, text);
        FillRect(dc, &rc, brush ? brush : GetSysColorBrush(COLOR_BTNFACE));
    } else {
        ScopedGdiObject brush(CreateSolidBrush(COLORREF(bg)));
        FillRect(dc, &rc, static_cast<HBRUSH>(brush.get()));
    }
}

std::wstring DisplayText(const Control& c) {
    const char* text = (c.entry->text && *c.entry->text) ? c.entry->text : c.entry->target;
    return GbkToWide(text ? text : "");
}

namespace {

// ---- painting of labels and colours -----------------------------------------

void DrawLabel(const DRAWITEMSTRUCT& item, const Control& c) {
    HDC dc = item.hDC;
    FillBackground(dc, item.hwndItem, item.rcItem, c);
    SetTextColor(dc, ColourOr(c.textColour, RGB(0, 0, 0)));
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ old = SelectObject(dc, c.font);
    RECT rc = item.rcItem;
    std::wstring text = DisplayText(c);
    // One line, line breaks included: the notice label relies on it.
    DrawTextW(dc, text.c_str(), int(text.size()), &rc, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(dc, old);
}

LRESULT ControlColour(Window* w, HDC dc, HWND child) {
    Control* c = ControlByHwnd(w, child);
    if (!c) return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    SetTextColor(dc, ColourOr(c->entry->textColour, RGB(0, 0, 0)));
    if (c->entry->background == kDefaultColour) {
        SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    SetBkColor(dc, COLORREF(c->entry->background));
    if (!c->brush) c->brush = CreateSolidBrush(COLORREF(c->entry->background));
    return reinterpret_cast<LRESULT>(c->brush);
}

// ---- the window procedure ------------------------------------------------------

void OnDestroy(Window* w) {
    DeleteTrayIcon(w);
    for (Control& c : w->controls)
        if (c.entry->kind == ControlKind::Timer && c.interval > 0) KillTimer(w->hwnd, c.id);
    w->hwnd = nullptr;
    bool anyLeft = false;
    for (Window* other : g_windows) anyLeft = anyLeft || other->hwnd;
    if (anyLeft) return;
    // The process may take a while yet to end (a worker's page, Wine's
    // windows): a start meanwhile must not find the claim and nothing to show.
    ReleaseInstanceClaim();
    PostQuitMessage(0);
}

// Before anything is hidden or taken down, which under Wine without a window
// manager costs seconds a window: a start meanwhile must come up, not hand
// over to us.
void DecideExit(Window* w) {
    w->ending = true;
    ExitDecided();
}

// A program with fewer rights may not send messages to ours when we run as
// administrator; these two it must reach: the shell's new taskbar, and a
// second start asking for the window.
void LetLesserProgramsReach(HWND hwnd) {
    for (const UINT message : {TaskbarCreatedMessage(), ShowAgainMessage()})
        ChangeWindowMessageFilterEx(hwnd, message, MSGFLT_ALLOW, nullptr);
}

LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    Window* w = nullptr;
    for (Window* candidate : g_windows)
        if (candidate->hwnd == hwnd) w = candidate;
    if (!w) return DefWindowProcW(hwnd, msg, wp, lp);

    // Registered messages: numbers known only at run time.
    if (msg == TaskbarCreatedMessage()) {
        AddTrayIconAgain(w);
        return 0;
    }
    if (msg == ShowAgainMessage()) {
        // The claim is let go of already: the start that asks comes up.
        if (w->ending) return kShowAgainEnding;
        if (w->events.shownAgain) w->events.shownAgain();
        if (IsWindowVisible(hwnd)) SetForegroundWindow(hwnd);
        return kShowAgainTaken;
    }
    if (msg == MakeWayMessage()) {
        // A start run as administrator while we run without: it runs in our
        // place, so we go unasked.
        DecideExit(w);
        DestroyWindow(hwnd);
        return 0;
    }
    switch (msg) {
        case WM_COMMAND:
            if (LOWORD(wp) == IDCANCEL && lp == 0) {
                // Esc, through the dialog keyboard handling: a close request.
                PostMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
            } else if (HIWORD(wp) == BN_CLICKED) {
                if (Control* c = ControlById(w, LOWORD(wp))) {
                    if (c->entry->onEvent) c->entry->onEvent();
                    else if (c->entry->onEventFrom) c->entry->onEventFrom(c->entry->name);
                }
            }
            return 0;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
            return ControlColour(w, reinterpret_cast<HDC>(wp), reinterpret_cast<HWND>(lp));
        case WM_DRAWITEM: {
            const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lp);
            if (Control* c = ControlByHwnd(w, item->hwndItem)) DrawLabel(*item, *c);
            return TRUE;
        }
        case WM_TIMER:
            // Only a timer ticks: an id that names another control is no tick.
            if (Control* c = ControlById(w, int(wp)); c && c->entry->kind == ControlKind::Timer && c->entry->onEvent)
                c->entry->onEvent();
            return 0;
        case WM_ACTIVATE:
            if (LOWORD(wp) == WA_INACTIVE) HidePreviewPopup();
            break;  // the default handling keeps the focus
        case WM_CLOSE:
            if (!w->events.mayClose || w->events.mayClose()) {
                DecideExit(w);
                DestroyWindow(hwnd);
            }
            return 0;
        case WM_QUERYENDSESSION:
            return (!w->events.mayClose || w->events.mayClose()) ? TRUE : FALSE;
        case WM_SIZE:
            if (w->events.sizeChanged) w->events.sizeChanged();
            return 0;
        case kTrayCallbackMessage:
            if (const int kind = TrayKind(lp); kind && w->events.tray) w->events.tray(kind);
            return 0;
        case kDestroyLaterMessage:
            DecideExit(w);
            DestroyWindow(hwnd);
            return 0;
        case WM_DESTROY:
            OnDestroy(w);
            return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

// Group boxes parent some controls: their notifications belong to the window.
LRESULT CALLBACK GroupProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const auto original = reinterpret_cast<WNDPROC>(GetPropW(hwnd, L"VelmoraProc"));
    switch (msg) {
        case WM_COMMAND:
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLOREDIT:
        case WM_DRAWITEM:
            if (Window* w = FromHwnd(hwnd); w && w->hwnd) return SendMessageW(w->hwnd, msg, wp, lp);
            break;
        case WM_NCDESTROY:
            RemovePropW(hwnd, L"VelmoraProc");
            break;
    }
    return CallWindowProcW(original, hwnd, msg, wp, lp);
}

bool FilterDialogKeys(void* raw) {
    MSG* msg = static_cast<MSG*>(raw);
    Window* w = FromHwnd(msg->hwnd);
    if (!w || !w->hwnd) return false;
    if (PreviewSeesMessage(w, *msg)) return true;
    if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return false;
    // Tab moves between the tab stops and Esc becomes a close request.
    const HWND focusBefore = GetFocus();
    const bool handled = IsDialogMessageW(w->hwnd, msg);
    PreviewAfterKey(w, focusBefore, *msg);
    return handled;
}

void RegisterClasses(HINSTANCE instance) {
    static bool done = false;
    if (done) return;
    done = true;
    WNDCLASSEXW main = {};
    main.cbSize = sizeof main;
    main.lpfnWndProc = MainProc;
    main.hInstance = instance;
    main.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    main.hIconSm = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(1), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXSMICON),
                                                 GetSystemMetrics(SM_CYSMICON), 0));
    main.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    main.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    main.lpszClassName = kMainClass;
    RegisterClassExW(&main);

    WNDCLASSEXW link = {};
    link.cbSize = sizeof link;
    link.lpfnWndProc = LinkProc;
    link.hInstance = instance;
    link.hCursor = LoadCursorW(nullptr, IDC_HAND);
    link.lpszClassName = kLinkClass;
    RegisterClassExW(&link);
}

HFONT MakeFont(Window* w, const FontSpec* font) {
    if (!font) return static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    HFONT made = CreateFontW(font->height, 0, 0, 0, font->weight, FALSE, FALSE, FALSE, font->charset,
                             OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                             font->pitchAndFamily, GbkToWide(font->face).c_str());
    w->ownFonts.push_back(made);
    return made;
}

HWND CreateChild(Window* w, Control& c, HWND parent, HINSTANCE instance) {
    const LayoutEntry& e = *c.entry;
    const wchar_t* klass = L"BUTTON";
    DWORD style = WS_CHILD | WS_VISIBLE | (e.tabStop ? WS_TABSTOP : 0);
    DWORD exStyle = 0;
    switch (e.kind) {
        case ControlKind::GroupBox:
            style |= BS_GROUPBOX | WS_CLIPSIBLINGS;
            exStyle = WS_EX_CONTROLPARENT;  // Tab reaches the boxes inside it
            break;
        case ControlKind::CheckBox: style |= BS_AUTOCHECKBOX | BS_VCENTER; break;
        case ControlKind::Button: style |= BS_PUSHBUTTON | BS_CENTER | BS_VCENTER; break;
        case ControlKind::EditBox:
            klass = L"EDIT";
            style |= ES_READONLY | ES_AUTOHSCROLL | ES_LEFT;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Label: klass = L"STATIC"; style |= SS_OWNERDRAW; break;
        case ControlKind::HyperLink: klass = kLinkClass; break;
        default: return nullptr;
    }
    HWND hwnd = CreateWindowExW(exStyle, klass, GbkToWide(e.text ? e.text : "").c_str(), style, e.left,
                                e.top, e.width, e.height, parent, reinterpret_cast<HMENU>(INT_PTR(c.id)),
                                instance, nullptr);
    c.font = MakeFont(w, e.font);
    SendMessageW(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(c.font), FALSE);
    if (e.kind == ControlKind::GroupBox) {
        SetPropW(hwnd, L"VelmoraProc", reinterpret_cast<HANDLE>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)));
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(GroupProc));
    }
    return hwnd;
}

}  // namespace

WindowRef CreateLayoutWindow(const LayoutEntry* layout, std::size_t count, const WindowEvents& events,
                             WindowRef* handle) {
    if (count == 0 || layout[0].kind != ControlKind::Window) return nullptr;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterClasses(instance);

    auto* w = new Window;  // lives as long as the process
    w->events = events;
    w->controls.resize(count - 1);
    for (std::size_t i = 1; i < count; ++i) {
        Control& c = w->controls[i - 1];
        c.entry = &layout[i];
        c.id = kFirstControlId + int(i - 1);
        c.textColour = layout[i].textColour;
    }
    g_windows.push_back(w);
    if (handle) *handle = w;

    const LayoutEntry& frame = layout[0];
    const int left = (GetSystemMetrics(SM_CXSCREEN) - frame.width) / 2;
    const int top = (GetSystemMetrics(SM_CYSCREEN) - frame.height) / 2;
    w->hwnd = CreateWindowExW(0, kMainClass, GbkToWide(frame.text).c_str(),
                              WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, left, top,
                              frame.width, frame.height, nullptr, nullptr, instance, nullptr);
    if (!w->hwnd) {
        // No window, no events: the caller ends instead of waiting for one.
        g_windows.pop_back();
        if (handle) *handle = nullptr;
        delete w;
        return nullptr;
    }

    LetLesserProgramsReach(w->hwnd);

    std::vector<HWND> windowLevel;
    for (Control& c : w->controls) {
        HWND parent = w->hwnd;
        if (c.entry->parent)
            if (Control* p = FindControl(w, c.entry->parent); p && p->hwnd) parent = p->hwnd;
        c.hwnd = CreateChild(w, c, parent, instance);
        if (c.hwnd && parent == w->hwnd && c.entry->kind != ControlKind::GroupBox) windowLevel.push_back(c.hwnd);
    }
    // Controls of the window itself that sit over a group box stay on top of it.
    for (HWND h : windowLevel) SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);

    SetMessageFilter(FilterDialogKeys);
    // Every way out takes the tray icon away, EndProgram's included.
    AtProgramEnd([w] { if (w->hwnd) DeleteTrayIcon(w); });

    if (events.created) events.created();
    // Position- and size-changed follow; only the latter has a handler.
    if (w->hwnd && events.sizeChanged) events.sizeChanged();
    if (w->hwnd) ShowWindow(w->hwnd, SW_SHOW);
    return w;
}

bool WindowAlive(WindowRef window) { return window && window->hwnd && IsWindow(window->hwnd); }

PropertyValue GetProperty(WindowRef window, const char* control, int number) {
    if (!WindowAlive(window)) return PropertyValue();
    Control* c = FindControl(window, control);
    if (control && *control && !c) return PropertyValue();
    HWND hwnd = c ? c->hwnd : window->hwnd;
    const ControlKind kind = c ? c->entry->kind : ControlKind::Window;
    // A menu item has no window: its caption and state live here until the menu pops up.
    if (kind == ControlKind::MenuItem) {
        if (number == kPropDisabled) return PropertyValue(c->greyed);
        if (number == kPropVisible) return PropertyValue(!c->hidden);
        if (number == kPropTitle) return PropertyValue(c->captionSet ? c->caption : Text(c->entry->text));
        return PropertyValue();
    }
    if (!hwnd) return PropertyValue();

    RECT rc;
    switch (number) {
        case kPropLeft:
            GetWindowRect(hwnd, &rc);
            if (c) MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&rc), 2);
            return PropertyValue(int(rc.left));
        case kPropWidth:
            GetWindowRect(hwnd, &rc);
            return PropertyValue(int(rc.right - rc.left));
        case kPropVisible: return PropertyValue(IsWindowVisible(hwnd) != 0);
        case kPropDisabled: return PropertyValue(IsWindowEnabled(hwnd) == 0);
        case 8:
            if (kind == ControlKind::Window || kind == ControlKind::EditBox) {
                const int n = GetWindowTextLengthW(hwnd);
                std::wstring text(n + 1, L'\0');
                GetWindowTextW(hwnd, text.data(), n + 1);
                return PropertyValue(WideToGbk(text.c_str()));
            }
            break;
        case 18:
            if (kind == ControlKind::Window)
                return PropertyValue(IsIconic(hwnd) ? kStateMinimised : IsZoomed(hwnd) ? kStateMaximised : kStateNormal);
            if (kind == ControlKind::CheckBox)
                return PropertyValue(SendMessageW(hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED);
            break;
    }
    return PropertyValue();
}

void SetProperty(WindowRef window, const char* control, int number, const PropertyValue& value) {
    if (!WindowAlive(window)) return;
    Control* c = FindControl(window, control);
    if (control && *control && !c) return;
    const ControlKind kind = c ? c->entry->kind : ControlKind::Window;
    HWND hwnd = c ? c->hwnd : window->hwnd;

    if (kind == ControlKind::Timer) {
        if (number != kPropInterval) return;
        const int interval = value.number < 0 ? 0 : value.number;
        if (interval == c->interval) return;
        if (c->interval > 0) KillTimer(window->hwnd, c->id);
        c->interval = interval;
        if (interval > 0) SetTimer(window->hwnd, c->id, UINT(interval), nullptr);
        return;
    }
    if (kind == ControlKind::MenuItem) {
        if (number == kPropDisabled) c->greyed = value.AsBool();
        if (number == kPropVisible) c->hidden = !value.AsBool();
        if (number == kPropTitle) c->caption = value.text, c->captionSet = true;
        return;
    }
    if (!hwnd) return;
    switch (number) {
        case kPropLeft: {
            RECT rc;
            GetWindowRect(hwnd, &rc);
            if (c) MapWindowPoints(nullptr, GetParent(hwnd), reinterpret_cast<POINT*>(&rc), 2);
            SetWindowPos(hwnd, nullptr, value.number, rc.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
            return;
        }
        case kPropVisible:
            ShowWindow(hwnd, value.AsBool() ? SW_SHOW : SW_HIDE);
            return;
        case kPropDisabled:
            EnableWindow(hwnd, value.AsBool() ? FALSE : TRUE);
            return;
        case 8:
            if (kind == ControlKind::EditBox) SetWindowTextW(hwnd, GbkToWide(value.text).c_str());
            return;
        case kPropLinkColour:
        case kPropTextColour:
            if ((kind == ControlKind::Label && number == kPropTextColour) ||
                (kind == ControlKind::HyperLink && number == kPropLinkColour)) {
                c->textColour = value.number;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
            return;
        case 18:
            if (kind == ControlKind::CheckBox) {
                SendMessageW(hwnd, BM_SETCHECK, value.number == 1 ? BST_CHECKED : BST_UNCHECKED, 0);
            } else if (kind == ControlKind::Window && value.number == kStateNormal) {
                // A hidden window keeps its state until it is shown.
                if (IsWindowVisible(hwnd) && (IsIconic(hwnd) || IsZoomed(hwnd))) ShowWindow(hwnd, SW_RESTORE);
            }
            return;
    }
}

void ShowPopupMenu(WindowRef window, const char* menu, int x, int y) {
    if (!WindowAlive(window)) return;
    HMENU popup = CreatePopupMenu();
    std::wstring shown;  // "|"-separated, a greyed item marked with "~"
    for (const Control& c : window->controls) {
        if (c.entry->kind != ControlKind::MenuItem || !c.entry->parent || std::strcmp(c.entry->parent, menu) != 0 ||
            c.hidden)
            continue;
        const std::wstring caption = GbkToWide(c.captionSet ? c.caption : Text(c.entry->text));
        if (caption == L"-")
            AppendMenuW(popup, MF_SEPARATOR, 0, nullptr);
        else
            AppendMenuW(popup, MF_STRING | (c.greyed ? MF_GRAYED : 0), c.id, caption.c_str());
        shown += (shown.empty() ? L"" : L"|") + std::wstring(c.greyed ? L"~" : L"") + caption;
    }
    LogTray("menu", shown);
    POINT cursor;
    GetCursorPos(&cursor);
    if (x < 0) x = cursor.x + 3;
    if (y < 0) y = cursor.y + 3;
    // Without being foreground the menu would not close on a click elsewhere;
    // this does not show a hidden window.
    SetForegroundWindow(window->hwnd);
    const int chosen = TrackPopupMenu(popup, TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, x, y, 0,
                                      window->hwnd, nullptr);
    PostMessageW(window->hwnd, WM_NULL, 0, 0);
    DestroyMenu(popup);
    if (Control* c = ControlById(window, chosen); c && c->entry->onEvent) c->entry->onEvent();
}

void DestroyWindowLater(WindowRef window, bool now) {
    if (!WindowAlive(window)) return;
    DecideExit(window);
    if (now)
        DestroyWindow(window->hwnd);
    else
        PostMessageW(window->hwnd, kDestroyLaterMessage, 0, 0);
}
