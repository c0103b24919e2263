// Lists the desktop's windows with their classes and rectangles (a debugging aid).
#include <cstdio>
#include "GuiDriver.h"

static void Dump(HWND h, int depth) {
    RECT rc = gui::WindowRect(h);
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    wprintf(L"%*ls%p pid=%lu vis=%d class=%ls text=%ls rect=%ld,%ld-%ld,%ld\n", depth * 2, L"", (void*)h, pid,
            IsWindowVisible(h), gui::ClassOf(h).c_str(), gui::TextOf(h).substr(0, 30).c_str(), rc.left, rc.top,
            rc.right, rc.bottom);
}
static BOOL CALLBACK Top(HWND h, LPARAM) {
    Dump(h, 0);
    for (HWND c : gui::Children(h)) if (GetParent(c) == h) Dump(c, 1);
    return TRUE;
}
int wmain() {
    EnumWindows(Top, 0);
    return 0;
}
