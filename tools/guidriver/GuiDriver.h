// Drives a running program the way a user would: finds its windows and boxes,
// reads their texts, presses buttons, clicks and types through the input
// queue, and takes screenshots. Used by the end-to-end tests under Wine.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace gui {

struct Program {
    HANDLE process = nullptr;
    DWORD pid = 0;
};

// Starts the program in its own folder.
Program Start(const std::wstring& exe);
// The same on a desktop of our window station, by its name.
Program StartOnDesktop(const std::wstring& exe, const std::wstring& desktop);
// The same without the administrator's rights, as Windows starts a program
// unless asked to "run as administrator" (Wine runs every program elevated
// otherwise). Empty where this process holds no elevated token.
Program StartUnelevated(const std::wstring& exe);
bool IsElevated(const Program& p);
bool WaitForExit(const Program& p, DWORD ms, DWORD* exitCode = nullptr);
void Kill(Program& p);

// The program's visible top-level window with this title (and class, if given).
HWND WaitForWindow(DWORD pid, const std::wstring& title, const wchar_t* klass = nullptr, DWORD ms = 10000);
HWND FindWindowOf(DWORD pid, const std::wstring& title, const wchar_t* klass = nullptr);
// A message box of the program with this caption.
HWND WaitForBox(DWORD pid, const std::wstring& caption, DWORD ms = 10000);
bool WaitGone(HWND hwnd, DWORD ms = 5000);
std::vector<HWND> TopLevelWindows(DWORD pid, bool visibleOnly = true);

std::wstring TextOf(HWND hwnd);
std::wstring ClassOf(HWND hwnd);
std::wstring BoxText(HWND box);
// The button of a dialog with this caption (such as L"确定").
HWND ButtonOf(HWND dialog, const std::wstring& caption);
void Press(HWND button);
// A child (at any depth) whose window text is exactly this.
HWND ChildWithText(HWND parent, const std::wstring& text);
std::vector<HWND> Children(HWND parent);

RECT WindowRect(HWND hwnd);
POINT Centre(HWND hwnd);
// Real input through the system's queue.
void MoveMouse(int x, int y);
void Click(int x, int y, bool right = false);
// Clicks whatever window is at the screen point; returns it.
HWND ClickControlAt(int x, int y);
void Key(WORD vk, bool alt = false);
void Type(const std::wstring& text);
void Settle(DWORD ms = 150);

// Our icon in the taskbar's notification area (its gold pixels): shown,
// and a point on it ({-1, -1} when it is not there).
bool TrayIconShown();
POINT TrayIconPoint();
// A click on it, through the shell's own tray window.
void ClickTrayIcon(bool right = false);
// Opens its menu with a right click and chooses the n-th item from the top,
// separators skipped, with the keyboard. False when no menu came up.
bool ChooseTrayMenuItem(int n);

std::wstring ClipboardText();
void ClearClipboard();
// The whole screen, as a 24-bit BMP file.
bool SaveScreenshot(const std::wstring& path);

// The bytes of the program's embedded theme pack number `order` (PACKnn).
std::string PackResource(const std::wstring& exe, int order);

// A path that CTest hands over as Z:/unix/path, in Windows form.
std::wstring EnvPath(const char* name);
// Deletes a folder with everything in it.
void RemoveTree(const std::wstring& path);

}  // namespace gui
