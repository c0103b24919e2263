// The main job, shown: starts Velmora, passes its notice, ticks a theme,
// presses "修改", and saves a screenshot at each step.
// usage: velmora_demo VELMORA_EXE SCREENSHOT_FOLDER
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
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    if (HWND ask = gui::WaitForBox(p.pid, L"程序准备关闭中~~")) gui::Press(GetDlgItem(ask, IDOK));
    gui::WaitForExit(p, 5000);
    gui::Kill(p);
    return 0;
}
