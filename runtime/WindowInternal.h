// The window layer's own structures, shared by its files: the window
// procedure and properties (Window.cpp), the tray icon (TrayIcon.cpp) and
// the hyperlink box (HyperLink.cpp). Not for the logic, which sees Window.h.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "runtime/Window.h"

constexpr wchar_t kMainClass[] = L"VelmoraMainWindow";
constexpr wchar_t kLinkClass[] = L"VelmoraHyperLink";

struct Control {
    const LayoutEntry* entry = nullptr;
    HWND hwnd = nullptr;
    int id = 0;
    int textColour = kDefaultColour;  // labels and the link's normal colour
    int interval = 0;                 // timers
    bool hover = false, visited = false;  // hyperlink box
    HFONT font = nullptr;
    HBRUSH brush = nullptr;  // own background colour, made on first use
    // Menu items: a caption set by the logic (instead of the layout's), greyed, left out.
    Text caption;
    bool captionSet = false, greyed = false, hidden = false;
};

struct Window {
    HWND hwnd = nullptr;
    WindowEvents events;
    std::vector<Control> controls;
    HICON trayIcon = nullptr;
    bool trayAdded = false;
    std::wstring trayTip;  // kept for adding the icon again
    std::vector<HFONT> ownFonts;
    // Its end is decided: no more hand-overs to it.
    bool ending = false;
};

Window* FromHwnd(HWND hwnd);
Control* ControlByHwnd(Window* w, HWND hwnd);
COLORREF ColourOr(int colour, COLORREF fallback);
// A control's background: its own colour, or the brush its parent answers.
void FillBackground(HDC dc, HWND hwnd, const RECT& rc, const Control& c);
std::wstring DisplayText(const Control& c);

// ---- tray icon (TrayIcon.cpp)
// For tests: one line into the file VELMORA_TRAY_LOG names, when it is set.
void LogTray(const char* what, const std::wstring& detail = std::wstring());
void DeleteTrayIcon(Window* w);
// The tray event's kind for a callback message's lParam, or 0.
int TrayKind(LPARAM lp);
// The shell's "TaskbarCreated": the taskbar (and our icon with it) was made anew.
UINT TaskbarCreatedMessage();
void AddTrayIconAgain(Window* w);

// ---- hyperlink box (HyperLink.cpp)
LRESULT CALLBACK LinkProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

// ---- preview pop-up (PreviewPopup.cpp)
// Sees each message of the window's thread before it is dispatched: the
// pointer's moves and clicks, Esc. True when it took the message.
bool PreviewSeesMessage(Window* w, const MSG& msg);
// After the dialog keyboard handling: the focus the keys moved.
void PreviewAfterKey(Window* w, HWND focusBefore, const MSG& msg);
