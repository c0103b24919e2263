// The real program under Wine, driven from outside like a user would.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "GuiDriver.h"

namespace {

const std::wstring kTitle = L"VelmoraV2.5.3.1025";
const std::wstring kNoticeTitle = L"温馨提醒：";

// A path that CTest hands over as Z:/unix/path, in Windows form.
std::wstring EnvPath(const char* name) {
    const char* v = std::getenv(name);
    std::wstring out;
    for (const char* p = v ? v : ""; *p; ++p) out += *p == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(*p));
    return out;
}

std::wstring Shot(const std::wstring& name) {
    const std::wstring folder = EnvPath("VELMORA_SHOTS");
    return folder.empty() ? std::wstring() : folder + L"\\" + name + L".bmp";
}

// One running Velmora, past its start-up notice, with the window on screen.
class Velmora : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring exe = EnvPath("VELMORA_EXE");
        ASSERT_FALSE(exe.empty()) << "VELMORA_EXE names the program";
        program_ = gui::Start(exe);
        ASSERT_TRUE(program_.process);
    }
    void TearDown() override { gui::Kill(program_); }

    // Presses OK in the notice and waits for the window.
    HWND PassNotice() {
        HWND notice = gui::WaitForBox(program_.pid, kNoticeTitle);
        if (!notice) return nullptr;
        gui::Press(gui::ButtonOf(notice, L"确定"));
        return gui::WaitForWindow(program_.pid, kTitle, L"VelmoraMainWindow");
    }
    // Input is handled a little later than it is sent: wait for the tick.
    static bool Ticked(HWND box) {
        for (int i = 0; i < 50; ++i) {
            if (SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED) return true;
            Sleep(20);
        }
        return false;
    }
    HWND Control(HWND window, const std::wstring& text) { return gui::ChildWithText(window, text); }

    gui::Program program_;
};

TEST_F(Velmora, StartupNoticeComesBeforeTheWindow) {
    HWND notice = gui::WaitForBox(program_.pid, kNoticeTitle);
    ASSERT_TRUE(notice);
    EXPECT_EQ(gui::BoxText(notice),
              L"本软件使用完全免费，请勿使用于商业用途！\r\n如果本软件是购买来的，说明你已经被骗了！\r\n软件官网："
              L"http://www.quorvane.com/\r\n更多软件尽在论坛：http://bbs.quorvane.com/");
    EXPECT_FALSE(gui::FindWindowOf(program_.pid, kTitle));
    // The tray icon and the timers already work while the notice is open.
    if (!Shot(L"notice").empty()) gui::SaveScreenshot(Shot(L"notice"));
    gui::Press(gui::ButtonOf(notice, L"确定"));
    HWND window = gui::WaitForWindow(program_.pid, kTitle, L"VelmoraMainWindow");
    ASSERT_TRUE(window);
}

TEST_F(Velmora, WindowHasItsFrameSizeAndCentredPlace) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    const RECT rc = gui::WindowRect(window);
    EXPECT_EQ(rc.right - rc.left, 445);
    EXPECT_EQ(rc.bottom - rc.top, 455);
    EXPECT_EQ(rc.left, (GetSystemMetrics(SM_CXSCREEN) - 445) / 2);
    EXPECT_EQ(rc.top, (GetSystemMetrics(SM_CYSCREEN) - 455) / 2);
    const LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_TRUE(style & WS_SYSMENU);
    gui::Settle(500);
    if (!Shot(L"window").empty()) gui::SaveScreenshot(Shot(L"window"));
}

struct Cell {
    const wchar_t* caption;
    int left, top, width;  // window client coordinates of the box
};

// The grid: columns at 18, 114, 210, 307 and rows 24 apart inside 分组框2 (15, 88).
TEST_F(Velmora, EveryThemeBoxSitsInItsCellAndTicksOnAClick) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    const wchar_t* captions[44] = {
        L"安装王者界面", L"安装钻石界面", L"安装露露界面", L"安装恶魔界面", L"安装暗黑界面", L"安装黄金界面",
        L"安装圣诞界面", L"安装神族界面", L"安装虫族界面", L"安装蓝珠界面", L"安装科幻界面", L"安装狩猎界面",
        L"安装黑框界面", L"安装Foxe界面", L"安装Perb界面", L"安装战地界面", L"安装马年界面", L"安装蓝色界面",
        L"安装酷绿界面", L"安装屠龙界面", L"安装金色界面", L"安装锤石界面", L"安装鱼人界面", L"安装打野界面",
        L"安装冰魄界面", L"安装Kllv界面", L"安装安妮界面", L"安装钻白界面", L"安装透明界面", L"安装紫色界面",
        L"安装娜美界面", L"安装璐璐界面", L"安装瑞文界面", L"安装武器界面", L"安装辅助界面", L"安装虚空界面",
        L"安装狼人界面", L"安装冰兰界面", L"安装白翼界面", L"安装亚索界面", L"安装Tron界面", L"安装铂金界面",
        L"安装盲僧界面", L"还原原始界面"};
    const int columns[4] = {18, 114, 210, 307};
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    for (int i = 0; i < 44; ++i) {
        SCOPED_TRACE(i);
        HWND box = Control(window, captions[i]);
        ASSERT_TRUE(box);
        const RECT rc = gui::WindowRect(box);
        const int cellLeft = origin.x + 15 + columns[i % 4];
        const int cellTop = origin.y + 88 + 24 + 24 * (i / 4);
        EXPECT_NEAR(rc.left, cellLeft, 15);  // three boxes of the window sit a few pixels apart
        EXPECT_NEAR(rc.top, cellTop, 1);
        EXPECT_EQ(rc.bottom - rc.top, 19);
        // A click at the centre of the cell reaches the box and ticks it.
        EXPECT_EQ(gui::ClickControlAt(cellLeft + 47, cellTop + 9), box);
        EXPECT_TRUE(Ticked(box));
    }
}

TEST_F(Velmora, EditBoxCannotBeTypedInto) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    const std::wstring hint = L"注：点击“浏览”，找到目录“英雄联盟”点确定";
    HWND edit = Control(window, hint);
    ASSERT_TRUE(edit);
    EXPECT_TRUE(GetWindowLongW(edit, GWL_STYLE) & ES_READONLY);
    const POINT c = gui::Centre(edit);
    gui::Click(c.x, c.y);
    gui::Type(L"abc");
    gui::Key(VK_BACK);
    EXPECT_EQ(gui::TextOf(edit), hint);
}

TEST_F(Velmora, EscAsksBeforeClosingAndCancelKeepsEverything) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    HWND box = Control(window, L"安装亚索界面");
    ASSERT_TRUE(box);
    const POINT c = gui::Centre(box);
    gui::Click(c.x, c.y);
    ASSERT_TRUE(Ticked(box));

    gui::Key(VK_ESCAPE);
    HWND ask = gui::WaitForBox(program_.pid, L"程序准备关闭中~~");
    ASSERT_TRUE(ask);
    EXPECT_EQ(gui::BoxText(ask),
              L"确定退出本程序吗？退出后将关闭Velmora！\r\n若想最小化本软件，请点击“取消”然后点击最小化按钮。");
    gui::Press(gui::ButtonOf(ask, L"取消"));
    ASSERT_TRUE(gui::WaitGone(ask));
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(SendMessageW(box, BM_GETCHECK, 0, 0), BST_CHECKED);

    // Alt+F4 asks the same; OK ends the program.
    SetForegroundWindow(window);
    gui::Key(VK_F4, true);
    ask = gui::WaitForBox(program_.pid, L"程序准备关闭中~~");
    ASSERT_TRUE(ask);
    gui::Press(gui::ButtonOf(ask, L"确定"));
    DWORD code = 1;
    EXPECT_TRUE(gui::WaitForExit(program_, 5000, &code));
    EXPECT_EQ(code, 0u);
}

TEST_F(Velmora, NoticeScrollsLeftAtFiftyPixelsASecond) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    HWND notice = nullptr;
    for (HWND h : gui::Children(window))
        if (gui::WindowRect(h).right - gui::WindowRect(h).left == 2647) notice = h;
    ASSERT_TRUE(notice);
    const LONG x0 = gui::WindowRect(notice).left;
    const ULONGLONG t0 = GetTickCount64();
    Sleep(2000);
    const LONG x1 = gui::WindowRect(notice).left;
    const double seconds = (GetTickCount64() - t0) / 1000.0;
    const double speed = (x0 - x1) / seconds;
    EXPECT_GT(speed, 25.0);
    EXPECT_LT(speed, 55.0);
}

}  // namespace
