// The main job, shown: starts Velmora, passes its notice, ticks a theme,
// presses "修改", and saves a screenshot at each step; then a theme's
// preview under the pointer, and the tray menu after a game patch changed
// one of the installed files.
// usage: velmora_demo VELMORA_EXE SCREENSHOT_FOLDER
#include <windows.h>

#include <cstdio>
#include <string>

#include "GuiDriver.h"

namespace {

void Shot(const std::wstring& folder, const wchar_t* name) {
    gui::Settle(400);
    const std::wstring path = folder + L"\\" + name + L".bmp";
    std::printf("%s\n", gui::SaveScreenshot(path) ? "screenshot taken" : "screenshot failed");
}

HWND Child(HWND window, const std::wstring& text) { return gui::ChildWithText(window, text); }

void ClickChild(HWND window, const std::wstring& text) {
    if (HWND h = Child(window, text)) {
        const POINT c = gui::Centre(h);
        gui::ClickControlAt(c.x, c.y);
    }
}

// The game folder the program remembers (its path file, GBK, beside it):
// one installed file there gets other bytes, as a game patch would write.
bool PatchOneFile(const std::wstring& exe) {
    const std::wstring pathFile = exe.substr(0, exe.rfind(L'\\')) + L"\\游戏地址.txt";
    HANDLE h = CreateFileW(pathFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    char bytes[1024];
    DWORD n = 0;
    ReadFile(h, bytes, sizeof bytes, &n, nullptr);
    CloseHandle(h);
    wchar_t folder[1024];
    const int length = MultiByteToWideChar(936, 0, bytes, int(n), folder, 1023);
    folder[length] = 0;
    const std::wstring target = std::wstring(folder) + L"\\Game\\DATA\\Menu\\fontconfig_zh_CN.txt";
    h = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const char patched[] = "[FontConfig \"zh_CN\"]\r\n; written by the game's patch\r\n";
    WriteFile(h, patched, sizeof patched - 1, &n, nullptr);
    CloseHandle(h);
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    const std::wstring shots = argv[2];
    gui::Program p = gui::Start(argv[1]);
    HWND notice = gui::WaitForBox(p.pid, L"温馨提醒：");
    if (!notice) return 1;
    Shot(shots, L"1-startup-notice");
    gui::Press(GetDlgItem(notice, IDOK));
    HWND window = gui::WaitForWindow(p.pid, L"VelmoraV2.5.3.1025", L"VelmoraMainWindow");
    if (!window) return 1;
    Shot(shots, L"2-main-window");
    ClickChild(window, L"安装王者界面");
    ClickChild(window, L"修改");
    HWND done = gui::WaitForBox(p.pid, L"温馨提示°", 30000);
    if (!done) return 1;
    Shot(shots, L"3-installed");
    std::printf("install finished\n");
    gui::Press(GetDlgItem(done, IDOK));
    gui::WaitGone(done);

    // The pointer resting on a theme's box: its preview beside it.
    // Previews show in the active window: a click on its title bar, as a player comes back to it.
    const RECT frame = gui::WindowRect(window);
    gui::Click(frame.left + 150, frame.top + 10);
    if (HWND box = Child(window, L"安装钻石界面")) {
        const POINT c = gui::Centre(box);
        gui::MoveMouse(c.x, c.y);
        for (int i = 0; i < 100; ++i, Sleep(20)) {
            bool shown = false;
            for (HWND h : gui::TopLevelWindows(p.pid)) shown = shown || gui::ClassOf(h) == L"VelmoraPreview";
            if (shown) break;
        }
        Shot(shots, L"4-theme-preview");
        gui::MoveMouse(frame.left + 200, frame.top + 60);
    }
    // A game patch writes its own fonts over ours; the tray menu tells so and offers the way back.
    if (PatchOneFile(argv[1])) {
        gui::ClickTrayIcon(true);
        HWND menu = nullptr;
        for (int i = 0; i < 100 && !menu; ++i, Sleep(20)) menu = FindWindowW(L"#32768", nullptr);
        Shot(shots, L"5-tray-menu");
        gui::Key(VK_ESCAPE);
        if (menu) gui::WaitGone(menu);
    }
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (HWND ask = gui::WaitForBox(p.pid, L"程序准备关闭中~~")) gui::Press(GetDlgItem(ask, IDOK));
    gui::WaitForExit(p, 5000);
    gui::Kill(p);
    return 0;
}
