// The real program under Wine, driven from outside like a user would.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <wininet.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include <string>

#include "GuiDriver.h"
#include "ScreenPixels.h"
#include "TestFiles.h"
#include "TestText.h"

namespace {

const std::wstring kTitle = L"VelmoraV2.5.3.1025";
const std::wstring kNoticeTitle = L"温馨提醒：";

using gui::EnvPath;

std::wstring Shot(const std::wstring& name) {
    const std::wstring folder = EnvPath("VELMORA_SHOTS");
    return folder.empty() ? std::wstring() : folder + L"\\" + name + L".bmp";
}

// One running Velmora, past its start-up notice, with the window on screen.
class Velmora : public ::testing::Test {
protected:
    void SetUp() override {
        const std::wstring exe = EnvPath(exeVariable_);
        ASSERT_FALSE(exe.empty()) << "VELMORA_EXE names the program";
        logStart_ = TrayLog().size();
        program_ = gui::Start(exe);
        ASSERT_TRUE(program_.process);
    }
    // What the program told the shell's tray, one line a call (VELMORA_TRAY_LOG).
    static std::vector<std::string> TrayLog() {
        std::vector<std::string> lines;
        const std::string all = ReadAll(EnvPath("VELMORA_TRAY_LOG"));  // no log yet: no line
        for (std::size_t at = 0, end; (end = all.find('\n', at)) != std::string::npos; at = end + 1)
            lines.push_back(all.substr(at, end - at));
        return lines;
    }
    // This test's lines of the tray log that begin with `what`.
    int TrayCalls(const std::string& what) {
        const auto lines = TrayLog();
        int n = 0;
        for (std::size_t i = logStart_; i < lines.size(); ++i)
            if (lines[i].compare(0, what.size() + 1, what + " ") == 0) ++n;
        return n;
    }
    std::size_t logStart_ = 0;
    // The environment variable that names the program to start.
    const char* exeVariable_ = "VELMORA_EXE";
    void TearDown() override { gui::Kill(program_); }

    // Presses OK in the notice and waits for the window.
    HWND PassNotice() {
        HWND notice = gui::WaitForBox(program_.pid, kNoticeTitle);
        if (!notice) return nullptr;
        gui::Press(gui::ButtonOf(notice, L"确定"));
        return gui::WaitForWindow(program_.pid, kTitle, L"VelmoraMainWindow");
    }
    // Input is handled a little later than it is sent: wait for the tick.
    // Generous: under load Wine may take a second or more to deliver a synthetic click.
    static bool Ticked(HWND box) {
        for (int i = 0; i < 250; ++i) {
            if (SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED) return true;
            Sleep(20);
        }
        return false;
    }
    static bool TrayIconShown() { return gui::TrayIconShown(); }
    static void ClickTray(bool right = false) { gui::ClickTrayIcon(right); }
    // Opens the tray menu and chooses its n-th command (separators skipped).
    void ChooseTrayCommand(int n) { ASSERT_TRUE(gui::ChooseTrayMenuItem(n)); }
    // "检查更新" from the tray menu; returns the text of the box it shows.
    std::wstring MenuUpdateCheckSays() {
        ChooseTrayCommand(4);
        HWND box = gui::WaitForBox(program_.pid, L"更新提示", 20000);
        if (!box) return L"<no box>";
        const std::wstring text = gui::BoxText(box);
        gui::Press(gui::ButtonOf(box, L"确定"));
        return text;
    }
    static bool WaitVisible(HWND w, bool visible) {
        for (int i = 0; i < 100; ++i, Sleep(20))
            if (bool(IsWindowVisible(w)) == visible) return true;
        return false;
    }
    HWND Control(HWND window, const std::wstring& text) { return gui::ChildWithText(window, text); }
    // The scrolling notice 标签2: the one label 2647 pixels wide.
    static HWND Marquee(HWND window) {
        for (HWND h : gui::Children(window))
            if (gui::WindowRect(h).right - gui::WindowRect(h).left == 2647) return h;
        return nullptr;
    }

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

    // The close button (and Alt+F4, which the system turns into the same
    // command) asks the same; OK ends the program.
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
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
    HWND notice = Marquee(window);
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

TEST_F(Velmora, TrayIconComesWithStartupAndGoesOnExit) {
    HWND notice = gui::WaitForBox(program_.pid, kNoticeTitle);
    ASSERT_TRUE(notice);
    gui::Settle(300);
    EXPECT_TRUE(TrayIconShown());
    gui::Press(gui::ButtonOf(notice, L"确定"));
    HWND window = gui::WaitForWindow(program_.pid, kTitle, L"VelmoraMainWindow");
    ASSERT_TRUE(window);
    // 退出 ends the program at once, without the exit question, icon and all.
    ChooseTrayCommand(9);
    DWORD code = 1;
    ASSERT_TRUE(gui::WaitForExit(program_, 5000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(gui::FindWindowOf(program_.pid, L"程序准备关闭中~~"));
    gui::Settle(500);
    EXPECT_FALSE(TrayIconShown());
}

TEST_F(Velmora, TheTrayMenuShowsWhatIsInstalledAndTheUndoAboveExit) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    ClickTray(true);
    HWND menu = nullptr;
    for (int i = 0; i < 100 && !menu; ++i, Sleep(20)) menu = FindWindowW(L"#32768", nullptr);
    ASSERT_TRUE(menu);
    gui::Key(VK_ESCAPE);
    std::string shown;
    for (const std::string& line : TrayLog())
        if (line.compare(0, 5, "menu ") == 0) shown = line.substr(5);
    // No game folder known here: nothing of ours is installed, nothing to undo ("~": greyed).
    EXPECT_EQ(shown, u8"显示主窗口|隐藏主窗口|-|关于软件|-|检查更新|-|官方网站|官方论坛|-|"
                     u8"~当前界面：原始|~撤销修改（恢复原来的文件）|-|退出");
}

TEST_F(Velmora, MinimiseHidesToTheTrayAndTrayClicksToggle) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    const RECT before = gui::WindowRect(window);
    SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitVisible(window, false));
    // Hidden while minimised: a click gives back a minimised window only.
    ClickTray();
    ASSERT_TRUE(WaitVisible(window, true));
    EXPECT_TRUE(IsIconic(window));
    SendMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(IsIconic(window));
    // Hidden from the menu, then a click brings it back in its place.
    ChooseTrayCommand(2);
    ASSERT_TRUE(WaitVisible(window, false));
    ClickTray();
    ASSERT_TRUE(WaitVisible(window, true));
    EXPECT_FALSE(IsIconic(window));
    const RECT after = gui::WindowRect(window);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.top, before.top);
}

TEST_F(Velmora, TheIconComesBackWhenTheTaskbarIsMadeAnew) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    gui::Settle(300);
    ASSERT_TRUE(TrayIconShown());
    // A restarted shell's new taskbar knows no icons: ours is taken away as a restart would.
    NOTIFYICONDATAW data = {};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = 100;
    ASSERT_TRUE(Shell_NotifyIconW(NIM_DELETE, &data));
    gui::Settle(500);
    ASSERT_FALSE(TrayIconShown());
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(HWND_BROADCAST, RegisterWindowMessageW(L"TaskbarCreated"), 0, 0, SMTO_ABORTIFHUNG, 3000,
                        &answer);
    gui::Settle(500);
    EXPECT_TRUE(TrayIconShown());
    EXPECT_EQ(TrayCalls("add"), 2);  // at start-up and again, each with its tip
    for (const std::string& line : TrayLog())
        if (line.compare(0, 4, "add ") == 0) {
            EXPECT_EQ(line, "add Velmora");
        }
}

TEST_F(Velmora, TheFirstMinimiseSaysOnceWhereTheProgramWent) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitVisible(window, false));
    gui::Settle(300);
    ASSERT_EQ(TrayCalls("balloon"), 1);
    std::string balloon;
    for (const std::string& line : TrayLog())
        if (line.compare(0, 8, "balloon ") == 0) balloon = line;
    EXPECT_EQ(balloon.compare(0, 16, "balloon Velmora|"), 0) << balloon;
    EXPECT_NE(balloon.find(u8"托盘图标"), std::string::npos) << balloon;
    // Back, and minimised again: no second balloon in this run.
    ClickTray();
    ASSERT_TRUE(WaitVisible(window, true));
    SendMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
    SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    ASSERT_TRUE(WaitVisible(window, false));
    gui::Settle(300);
    EXPECT_EQ(TrayCalls("balloon"), 1);
}

// A window of this test titled like ours: it must never be taken for Velmora.
int g_decoyCalls = 0;
LRESULT CALLBACK DecoyProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == RegisterWindowMessageW(L"Velmora.ShowMainWindowAgain")) ++g_decoyCalls;
    return DefWindowProcW(hwnd, msg, wp, lp);
}

TEST_F(Velmora, ASecondStartBringsTheFirstWindowBackAndEnds) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    WNDCLASSW decoyClass = {};
    decoyClass.lpfnWndProc = DecoyProc;
    decoyClass.hInstance = GetModuleHandleW(nullptr);
    decoyClass.lpszClassName = L"NotVelmora";
    RegisterClassW(&decoyClass);
    HWND decoy = CreateWindowW(L"NotVelmora", kTitle.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                               GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(decoy);
    for (const bool byMenu : {false, true}) {
        SCOPED_TRACE(byMenu ? "hidden from the menu" : "hidden by minimising");
        if (byMenu)
            ChooseTrayCommand(2);
        else
            SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        ASSERT_TRUE(WaitVisible(window, false));
        const ULONGLONG t0 = GetTickCount64();
        gui::Program second = gui::Start(EnvPath("VELMORA_EXE"));
        DWORD code = 1;
        bool boxed = false;
        while (!gui::WaitForExit(second, 20, &code) && GetTickCount64() - t0 < 10000)
            boxed = boxed || gui::FindWindowOf(second.pid, kNoticeTitle);
        const ULONGLONG took = GetTickCount64() - t0;
        std::printf("second start ended after %llu ms\n", took);
        EXPECT_EQ(code, 0u);
        EXPECT_LT(took, 3000u);  // "at once": a second is the aim, this bound cannot flake
        EXPECT_FALSE(boxed);
        gui::Kill(second);
        EXPECT_TRUE(WaitVisible(window, true));
        for (int i = 0; i < 100 && IsIconic(window); ++i) Sleep(20);
        EXPECT_FALSE(IsIconic(window));
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    EXPECT_EQ(g_decoyCalls, 0);
    DestroyWindow(decoy);
    EXPECT_EQ(TrayCalls("add"), 1);  // one icon: the second start added none
}

// Closes the window with 确定 in the exit question; true once the window is gone.
bool CloseWithOk(DWORD pid, HWND window) {
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    HWND ask = gui::WaitForBox(pid, L"程序准备关闭中~~");
    if (!ask) return false;
    gui::Press(gui::ButtonOf(ask, L"确定"));
    for (int i = 0; i < 250 && IsWindow(window); ++i) Sleep(20);
    return !IsWindow(window);
}

TEST_F(Velmora, AStartRightAfterClosingComesUp) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    ASSERT_TRUE(CloseWithOk(program_.pid, window));
    gui::Program second = gui::Start(EnvPath("VELMORA_EXE"));
    EXPECT_TRUE(gui::WaitForBox(second.pid, kNoticeTitle, 15000));
    gui::Kill(second);
}

// Every start of such a test spends this long right after its exit is
// decided, reading no messages: longer than a second start ever waited for
// an answer.
constexpr wchar_t kSlowExitMs[] = L"4000";

class SlowExit : public Velmora {
protected:
    void SetUp() override {
        SetEnvironmentVariableW(L"VELMORA_TEST_EXIT_DELAY", kSlowExitMs);
        Velmora::SetUp();
    }
    void TearDown() override {
        Velmora::TearDown();
        SetEnvironmentVariableW(L"VELMORA_TEST_EXIT_DELAY", nullptr);
    }
};

TEST_F(SlowExit, AStartRightAfterExitFromTheTrayMenuComesUp) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    ChooseTrayCommand(9);  // 退出
    Sleep(300);
    ASSERT_FALSE(gui::WaitForExit(program_, 0));  // still ending
    gui::Program second = gui::Start(EnvPath("VELMORA_EXE"));
    EXPECT_TRUE(gui::WaitForBox(second.pid, kNoticeTitle, 15000));
    DWORD code = 1;
    EXPECT_TRUE(gui::WaitForExit(program_, 15000, &code));
    EXPECT_EQ(code, 0u);
    gui::Kill(second);
}

// As Windows starts a program for a user who did not choose "run as administrator".
class UnelevatedVelmora : public Velmora {
protected:
    void SetUp() override {
        program_ = gui::StartUnelevated(EnvPath("VELMORA_EXE"));
        ASSERT_TRUE(program_.process) << "this test process holds no elevated token";
        ASSERT_FALSE(gui::IsElevated(program_));
    }
};

TEST_F(UnelevatedVelmora, RunAsAdministratorTakesOverFromTheRunningOne) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    // The running one could not install where the elevated one can: it makes way.
    gui::Program elevated = gui::Start(EnvPath("VELMORA_EXE"));
    ASSERT_TRUE(gui::IsElevated(elevated));
    DWORD code = 1;
    EXPECT_TRUE(gui::WaitForExit(program_, 10000, &code));
    EXPECT_EQ(code, 0u);
    HWND notice = gui::WaitForBox(elevated.pid, kNoticeTitle, 15000);
    ASSERT_TRUE(notice);
    gui::Press(gui::ButtonOf(notice, L"确定"));
    HWND elevatedWindow = gui::WaitForWindow(elevated.pid, kTitle, L"VelmoraMainWindow");
    ASSERT_TRUE(elevatedWindow);
    // A plain start afterwards hands over to the elevated one, as between equals.
    ShowWindow(elevatedWindow, SW_HIDE);
    ASSERT_TRUE(WaitVisible(elevatedWindow, false));
    gui::Program plain = gui::StartUnelevated(EnvPath("VELMORA_EXE"));
    EXPECT_TRUE(gui::WaitForExit(plain, 5000, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(WaitVisible(elevatedWindow, true));
    gui::Kill(plain);
    gui::Kill(elevated);
}

// A claim this start may not open, as a plain start meets an elevated one's.
class DeniedClaim : public Velmora {
protected:
    void SetUp() override {
        SECURITY_DESCRIPTOR sd;
        InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
        ACL nobody;
        InitializeAcl(&nobody, sizeof nobody, ACL_REVISION);
        SetSecurityDescriptorDacl(&sd, TRUE, &nobody, FALSE);
        SECURITY_ATTRIBUTES sa = {sizeof sa, &sd, FALSE};
        claim_ = CreateMutexW(&sa, FALSE, L"Local\\Velmora.SingleInstance");
        ASSERT_TRUE(claim_);
        ASSERT_NE(GetLastError(), DWORD(ERROR_ALREADY_EXISTS));
        Velmora::SetUp();
    }
    void TearDown() override {
        Velmora::TearDown();
        if (claim_) CloseHandle(claim_);
    }
    HANDLE claim_ = nullptr;
};

TEST_F(DeniedClaim, MeansAnotherOneRuns) {
    // No window stood behind the claim: after a bounded wait the program came up.
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    ChooseTrayCommand(2);
    ASSERT_TRUE(WaitVisible(window, false));
    // Now one does: a second start hands over to it and ends.
    gui::Program second = gui::Start(EnvPath("VELMORA_EXE"));
    DWORD code = 1;
    bool boxed = false;
    const ULONGLONG t0 = GetTickCount64();
    while (!gui::WaitForExit(second, 20, &code) && GetTickCount64() - t0 < 10000)
        boxed = boxed || gui::FindWindowOf(second.pid, kNoticeTitle);
    EXPECT_TRUE(gui::WaitForExit(second, 0, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(boxed);
    EXPECT_TRUE(WaitVisible(window, true));
    gui::Kill(second);
}

TEST_F(Velmora, SiteAndForumCommandsLeaveTheAddressOnTheClipboard) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    struct { int item; const wchar_t* title; const wchar_t* address; } cases[] = {
        {5, L"访问软件官网：", L"http://www.quorvane.com/"},
        {6, L"访问软件论坛：", L"http://bbs.quorvane.com/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        gui::ClearClipboard();
        ChooseTrayCommand(c.item);
        HWND box = gui::WaitForBox(program_.pid, c.title);
        ASSERT_TRUE(box);
        EXPECT_EQ(gui::BoxText(box), std::wstring(L"本软件来自Quorvane，专注于英雄联盟美化工具。\r\n访问地址：") + c.address);
        gui::Press(gui::ButtonOf(box, L"确定"));
        HWND copied = gui::WaitForBox(program_.pid, L"信息：");
        ASSERT_TRUE(copied);
        EXPECT_EQ(gui::BoxText(copied), L"网站地址已复制，粘贴快捷键 CTRL+V");
        EXPECT_EQ(gui::ClipboardText(), c.address);
        gui::Press(gui::ButtonOf(copied, L"确定"));
        ASSERT_TRUE(gui::WaitGone(copied));
    }
}

TEST_F(Velmora, AboutBoxNamesTheHosts) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    ChooseTrayCommand(3);
    HWND box = gui::WaitForBox(program_.pid, L"关于软件：");
    ASSERT_TRUE(box);
    const std::wstring text = gui::BoxText(box);
    EXPECT_EQ(text.substr(0, 12), L"欢迎使用Velmora！");
    EXPECT_NE(text.find(L"\r\n\r\n软件官网：www.quorvane.com\r\n软件论坛：bbs.quorvane.com"), std::wstring::npos) << text.size();
    gui::Press(gui::ButtonOf(box, L"确定"));
}

// Pixels of the window's area near a colour.
int PixelsNear(HWND hwnd, COLORREF want, int tolerance = 40) {
    const auto alike = [&](COLORREF c) {
        return abs(int(GetRValue(c)) - int(GetRValue(want))) <= tolerance &&
               abs(int(GetGValue(c)) - int(GetGValue(want))) <= tolerance &&
               abs(int(GetBValue(c)) - int(GetBValue(want))) <= tolerance;
    };
    return ScreenPixels(gui::WindowRect(hwnd), alike);
}

// Text pixels that are a pure red (no green, no blue), as the flicker draws.
int FlickerRedPixels(HWND hwnd) {
    const auto red = [](COLORREF c) { return GetRValue(c) >= 100 && GetGValue(c) < 30 && GetBValue(c) < 30; };
    return ScreenPixels(gui::WindowRect(hwnd), red);
}

std::wstring ReadRecorded(const std::wstring& path) {
    std::wstring out;
    if (FILE* f = _wfopen(path.c_str(), L"r, ccs=UTF-8")) {
        wchar_t line[1024];
        while (fgetws(line, 1024, f)) out += line;
        fclose(f);
    }
    return out;
}

// What the recorder wrote once the shell has started it: under a busy
// machine Wine takes seconds for that, so the bound is generous.
std::wstring WaitForRecorded(const std::wstring& path) {
    std::wstring opened;
    for (int i = 0; i < 400 && opened.empty(); ++i, Sleep(50)) opened = ReadRecorded(path);
    return opened;
}

// Makes the recorder the prefix's handler of http addresses; returns the
// file it writes them to, emptied.
std::wstring RecordOpenedAddresses() {
    const std::wstring recorder = EnvPath("VELMORA_URL_RECORDER");
    if (recorder.empty()) return std::wstring();
    const std::wstring record = recorder.substr(0, recorder.find_last_of(L'\\')) + L"\\opened-urls.txt";
    DeleteFileW(record.c_str());
    const std::wstring command = L"\"" + recorder + L"\" \"" + record + L"\" \"%1\"";
    for (const wchar_t* key : {L"http\\shell\\open\\command", L"https\\shell\\open\\command"})
        if (RegSetValueW(HKEY_CLASSES_ROOT, key, REG_SZ, command.c_str(), DWORD(command.size() * sizeof(wchar_t))) !=
            ERROR_SUCCESS)
            return std::wstring();
    return record;
}

TEST_F(Velmora, LinkShowsTheSiteHoversAndOpensIt) {
    const std::wstring record = RecordOpenedAddresses();
    ASSERT_FALSE(record.empty());

    HWND window = PassNotice();
    ASSERT_TRUE(window);
    HWND link = nullptr;
    for (HWND h : gui::Children(window))
        if (gui::ClassOf(h) == L"VelmoraHyperLink") link = h;
    ASSERT_TRUE(link);
    gui::Settle(400);
    // Its normal colour flickers in reds like the two labels beside it.
    EXPECT_GT(FlickerRedPixels(link), 0);
    EXPECT_EQ(PixelsNear(link, RGB(0, 0, 255), 30), 0);
    HWND label1 = Control(window, L"官方网站：");
    ASSERT_TRUE(label1);
    EXPECT_GT(FlickerRedPixels(label1), 0);

    PostMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
    gui::Settle(300);
    EXPECT_GT(PixelsNear(link, RGB(51, 153, 255)), 0);
    PostMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(500, 500));
    gui::Settle(300);
    EXPECT_EQ(PixelsNear(link, RGB(51, 153, 255), 20), 0);

    PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    const std::wstring opened = WaitForRecorded(record);
    EXPECT_EQ(opened, L"http://www.quorvane.com/\n");
    PostMessageW(link, WM_MOUSEMOVE, 0, MAKELPARAM(500, 500));
    gui::Settle(400);
    // Visited: drawn in its own dark red whatever the flicker sets.
    EXPECT_GT(PixelsNear(link, RGB(128, 0, 0), 10), 0);
    EXPECT_EQ(FlickerRedPixels(link) , PixelsNear(link, RGB(128, 0, 0), 29));
}

// When the shell cannot open the address, the link starts the .htm handler
// itself with the address as one quoted argument.
TEST_F(Velmora, LinkFallsBackToThePageHandlerWithTheAddressQuoted) {
    const std::wstring record = RecordOpenedAddresses();
    ASSERT_FALSE(record.empty());
    const std::wstring recorder = EnvPath("VELMORA_URL_RECORDER");
    const std::wstring missing = L"\"Z:\\nonexistent\\no-browser.exe\" \"%1\"";
    const std::wstring handler = L"\"" + recorder + L"\" \"" + record + L"\" \"%1\"";
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L"http\\shell\\open\\command", REG_SZ, missing.c_str(),
                           DWORD(missing.size() * sizeof(wchar_t))), ERROR_SUCCESS);
    wchar_t before[256] = {};
    LONG beforeSize = sizeof before;
    const bool hadHtm = RegQueryValueW(HKEY_CLASSES_ROOT, L".htm", before, &beforeSize) == ERROR_SUCCESS;
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L".htm", REG_SZ, L"VelmoraTestPage", 15 * sizeof(wchar_t)), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L"VelmoraTestPage\\shell\\open\\command", REG_SZ, handler.c_str(),
                           DWORD(handler.size() * sizeof(wchar_t))), ERROR_SUCCESS);
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    HWND link = nullptr;
    for (HWND h : gui::Children(window))
        if (gui::ClassOf(h) == L"VelmoraHyperLink") link = h;
    ASSERT_TRUE(link);
    PostMessageW(link, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    EXPECT_EQ(WaitForRecorded(record), L"http://www.quorvane.com/\n");
    if (hadHtm)
        RegSetValueW(HKEY_CLASSES_ROOT, L".htm", REG_SZ, before, DWORD(wcslen(before) * sizeof(wchar_t)));
    else
        RegDeleteKeyW(HKEY_CLASSES_ROOT, L".htm");
    RegDeleteTreeW(HKEY_CLASSES_ROOT, L"VelmoraTestPage");
    RecordOpenedAddresses();
}

TEST_F(Velmora, TabVisitsTheThemeBoxesTheEditBoxAndTheButtonsOnly) {
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    HWND first = Control(window, L"安装王者界面");
    ASSERT_TRUE(first);
    gui::ClickControlAt(gui::Centre(first).x, gui::Centre(first).y);
    DWORD thread = GetWindowThreadProcessId(window, nullptr);
    std::vector<HWND> seen;
    for (int i = 0; i < 60; ++i) {
        gui::Key(VK_TAB);
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(thread, &info);
        if (info.hwndFocus && std::find(seen.begin(), seen.end(), info.hwndFocus) == seen.end())
            seen.push_back(info.hwndFocus);
    }
    EXPECT_EQ(seen.size(), 47u);
    for (HWND h : seen) {
        const std::wstring text = gui::TextOf(h);
        const bool themeBox = text.size() >= 4 && text.substr(text.size() - 2) == L"界面";
        const bool allowed = themeBox || text == L"浏览" || text == L"修改" || gui::ClassOf(h) == L"Edit";
        EXPECT_TRUE(allowed) << gui::ClassOf(h).size() << " " << text.size();
    }
}

TEST_F(Velmora, MenuUpdateCheckWithoutAnAnswerSaysItFailed) {
    // No announcement server runs for these tests: start-up stayed silent.
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    EXPECT_EQ(MenuUpdateCheckSays(), L"检查更新失败，暂时无法读取版本信息，请稍后再试。");
}

// ---- the update check against pages served on 127.0.0.1 ------------------------

void WritePage(const wchar_t* name, const std::wstring& html) {
    WriteAll(EnvPath("VELMORA_PAGES_DIR") + L"\\" + name, Utf8(html));
}

const std::wstring kNewVersion = L"VelmoraV2.6.0.0101";
const std::wstring kRefusedTitle = L"温馨提示°";
const std::wstring kRefused = L"下载地址未通过安全检查，没有打开：\r\n";
const std::wstring kNotes =
    L"<html><body><p>首1</p><p>修复了界面错位</p><p>尾1</p><p>首2</p><p>新增三款主题</p><p>尾2</p></body></html>";

std::wstring VersionPage(const std::wstring& version, const std::wstring& download, bool capitals = false) {
    const std::wstring br = capitals ? L"</P><P>" : L"</p><p>";
    return L"<html><body><p>当前版本号为" + br + version + br + L"需要更新</p><p>下载地址" + br + download + br +
           L"地址</p></body></html>";
}

class UpdateCheck : public Velmora {
protected:
    void SetUp() override {
        if (EnvPath("VELMORA_PAGES_DIR").empty()) GTEST_SKIP() << "run with the announcement server";
    }
    void Start(const std::wstring& notes, const std::wstring& version) {
        WritePage(L"notes.htm", notes);
        WritePage(L"version.htm", version);
        Velmora::SetUp();
    }
    // Started with a newer version on offer, downloaded from this address: the offer's box.
    HWND StartWithOffer(const std::wstring& download) {
        Start(kNotes, VersionPage(kNewVersion, download));
        return gui::WaitForBox(program_.pid, L"新版本提示：");
    }
    void TearDown() override {
        Velmora::TearDown();
        DeleteFileW((EnvPath("VELMORA_PAGES_DIR") + L"\\mode").c_str());
    }
    // From now on the announcement server answers its pages this way.
    void PagesAnswer(const wchar_t* mode) { WritePage(L"mode", mode); }
    std::wstring Offer(const std::wstring& version, const std::wstring& note1, const std::wstring& note2) {
        return L"软件发现新版本！请立即更新~\r\n" + version + L"\r\n\r\n本次更新内容如下：\r\n" + note1 + L"\r\n" + note2;
    }
};

TEST_F(UpdateCheck, TheSameVersionIsSilentAtStartAndToldFromTheMenu) {
    Start(kNotes, VersionPage(L"VelmoraV2.5.3.1025", L"http://127.0.0.1/x.zip"));
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    EXPECT_FALSE(gui::FindWindowOf(program_.pid, L"新版本提示："));
    EXPECT_EQ(MenuUpdateCheckSays(), L"当前已是最新版本，感谢使用~o(∩_∩)o ");
}

TEST_F(UpdateCheck, ANewVersionIsOfferedWithBothNotesAndNoGoesOn) {
    HWND offer = StartWithOffer(L"http://127.0.0.1/x.zip");
    ASSERT_TRUE(offer);
    EXPECT_EQ(gui::BoxText(offer), Offer(kNewVersion, L"修复了界面错位", L"新增三款主题"));
    EXPECT_TRUE(gui::ButtonOf(offer, L"是"));
    gui::Press(gui::ButtonOf(offer, L"否"));
    EXPECT_TRUE(PassNotice());
}

TEST_F(UpdateCheck, ABareNumberInCapitalisedTagsIsNewAndMissingNotesLeaveBlankLines) {
    Start(L"<html>no notes today</html>", VersionPage(L"2.5.3.1025", L"http://127.0.0.1/x.zip", true));
    HWND offer = gui::WaitForBox(program_.pid, L"新版本提示：");
    ASSERT_TRUE(offer);
    EXPECT_EQ(gui::BoxText(offer), Offer(L"2.5.3.1025", L"", L""));
    gui::Press(gui::ButtonOf(offer, L"否"));
    EXPECT_TRUE(PassNotice());
}

TEST_F(UpdateCheck, APageWithoutTheVersionOffersNothing) {
    Start(kNotes, L"<html><p>当前版本号为</p><p>VelmoraV9</p></html>");
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    EXPECT_FALSE(gui::FindWindowOf(program_.pid, L"新版本提示："));
    EXPECT_EQ(MenuUpdateCheckSays(), L"检查更新失败，暂时无法读取版本信息，请稍后再试。");
}

TEST_F(UpdateCheck, YesOpensTheDownloadAndEndsWithoutEverShowingTheWindow) {
    const std::wstring record = RecordOpenedAddresses();
    ASSERT_FALSE(record.empty());
    HWND offer = StartWithOffer(L"https://127.0.0.1:18931/download/Velmora-2.6.zip");
    ASSERT_TRUE(offer);
    gui::Press(gui::ButtonOf(offer, L"是"));
    bool shown = false;
    DWORD code = 1;
    for (int i = 0; i < 250 && !gui::WaitForExit(program_, 20, &code); ++i)
        shown = shown || gui::FindWindowOf(program_.pid, kTitle, L"VelmoraMainWindow");
    EXPECT_TRUE(gui::WaitForExit(program_, 0, &code));
    EXPECT_EQ(code, 0u);
    EXPECT_FALSE(shown);
    const std::wstring opened = WaitForRecorded(record);
    EXPECT_EQ(opened, L"https://127.0.0.1:18931/download/Velmora-2.6.zip\n");
}

TEST_F(UpdateCheck, AStartRightAfterYesComesUp) {
    const std::wstring record = RecordOpenedAddresses();
    ASSERT_FALSE(record.empty());
    SetEnvironmentVariableW(L"VELMORA_TEST_EXIT_DELAY", kSlowExitMs);
    HWND offer = StartWithOffer(L"https://127.0.0.1:18931/download/Velmora-2.6.zip");
    SetEnvironmentVariableW(L"VELMORA_TEST_EXIT_DELAY", nullptr);
    ASSERT_TRUE(offer);
    gui::Press(gui::ButtonOf(offer, L"是"));
    Sleep(300);
    ASSERT_FALSE(gui::WaitForExit(program_, 0));  // still ending
    gui::Program second = gui::Start(EnvPath("VELMORA_EXE"));
    // It comes up as the first did: with the same offer.
    EXPECT_TRUE(gui::WaitForBox(second.pid, L"新版本提示：", 20000));
    EXPECT_TRUE(gui::WaitForExit(program_, 15000));
    gui::Kill(second);
}

TEST_F(UpdateCheck, YesWithAnAddressOfAnotherSchemeOpensNothing) {
    const std::wstring record = RecordOpenedAddresses();
    ASSERT_FALSE(record.empty());
    HWND offer = StartWithOffer(L"file:///C:/windows/notepad.exe");
    ASSERT_TRUE(offer);
    gui::Press(gui::ButtonOf(offer, L"是"));
    HWND box = gui::WaitForBox(program_.pid, kRefusedTitle);
    ASSERT_TRUE(box);
    EXPECT_EQ(gui::BoxText(box), kRefused + L"file:///C:/windows/notepad.exe");
    gui::Press(gui::ButtonOf(box, L"确定"));
    EXPECT_TRUE(PassNotice());
    EXPECT_EQ(ReadRecorded(record), L"");
    EXPECT_FALSE(gui::FindWindowOf(program_.pid, L"Notepad"));
}

TEST_F(UpdateCheck, YesWithoutAnAddressSaysNoneWasFound) {
    HWND offer = StartWithOffer(L"");
    ASSERT_TRUE(offer);
    gui::Press(gui::ButtonOf(offer, L"是"));
    HWND box = gui::WaitForBox(program_.pid, L"更新提示");
    ASSERT_TRUE(box);
    EXPECT_EQ(gui::BoxText(box), L"未找到有效的下载地址，请稍后再试或访问官网下载新版本。");
    gui::Press(gui::ButtonOf(box, L"确定"));
    EXPECT_TRUE(PassNotice());
}

// Every address a hostile page could announce, offered from the menu one
// after the other in the same running program: each refused with its box,
// none reaching the shell; the program goes on and a good address opens once.
TEST_F(UpdateCheck, EveryHostileAddressIsRefusedBeforeTheShell) {
    const std::wstring record = RecordOpenedAddresses();
    ASSERT_FALSE(record.empty());
    Start(kNotes, VersionPage(L"VelmoraV2.5.3.1025", L"https://127.0.0.1/x.zip"));
    ASSERT_TRUE(PassNotice());
    const std::wstring base = L"https://127.0.0.1:18931/";
    const std::vector<std::wstring> hostile = {
        base + L"\" --gpu-launcher=\"calc.exe", base + L"a b.zip", base + L"a\r\nb.zip", base + L"a\tb.zip",
        base + L"a\x01" L"b", base + L"a\x7f" L"b", base + std::wstring(2049 - base.size(), L'a'),
        L"https://127.0.0.1@evil.example/x.exe", L"https://evil.example\\@127.0.0.1/", base + L"a<b>",
        base + L"a^b", base + L"a`b", base + L"a{b}", base + L"a|b", L"https://evil.example丂127.0.0.1/",
        L"https://丂.example/", base + L"a＂ --x＂", base + L"a“b”", base + L"a\u3000" L"b",
        L"https://127.0.0.1＠evil.example/", L"https://evil.example＼@127.0.0.1/", L"https://127。0。0。1/x",
        L"http://127.0.0.1:18931/download/Velmora-2.6.zip", L"https://evil.example/x.exe", L"javascript:alert(1)",
    };
    for (const std::wstring& address : hostile) {
        SCOPED_TRACE(testing::Message() << "address " << (&address - hostile.data()));
        WritePage(L"version.htm", VersionPage(kNewVersion, address));
        ChooseTrayCommand(4);
        HWND offer = gui::WaitForBox(program_.pid, L"新版本提示：", 20000);
        ASSERT_TRUE(offer);
        gui::Press(gui::ButtonOf(offer, L"是"));
        HWND box = gui::WaitForBox(program_.pid, kRefusedTitle, 20000);
        ASSERT_TRUE(box);
        const std::wstring text = gui::BoxText(box);
        EXPECT_EQ(text.substr(0, kRefused.size()), kRefused);
        if (address.size() < 100 && address.find_first_of(L"\r\n\t\x01\x7f") == std::wstring::npos) {
            EXPECT_EQ(text, kRefused + address);
        }
        gui::Press(gui::ButtonOf(box, L"确定"));
        gui::WaitGone(box);
    }
    // A page in GBK instead of UTF-8: 丂's second byte is "@".
    WriteAll(EnvPath("VELMORA_PAGES_DIR") + L"\\version.htm",
             std::string(u8"<p>当前版本号为</p><p>VelmoraV2.6</p><p>需要更新</p><p>下载地址</p><p>"
                         u8"https://evil.example\x81\x40" u8"127.0.0.1/x.exe</p><p>地址</p>"));
    ChooseTrayCommand(4);
    HWND offer = gui::WaitForBox(program_.pid, L"新版本提示：", 20000);
    ASSERT_TRUE(offer);
    gui::Press(gui::ButtonOf(offer, L"是"));
    HWND box = gui::WaitForBox(program_.pid, kRefusedTitle, 20000);
    ASSERT_TRUE(box);
    gui::Press(gui::ButtonOf(box, L"确定"));
    gui::WaitGone(box);
    EXPECT_EQ(ReadRecorded(record), L"");
    EXPECT_TRUE(gui::FindWindowOf(program_.pid, kTitle, L"VelmoraMainWindow"));

    WritePage(L"version.htm", VersionPage(kNewVersion, L"https://127.0.0.1:18931/download/Velmora-2.6.zip"));
    ChooseTrayCommand(4);
    offer = gui::WaitForBox(program_.pid, L"新版本提示：", 20000);
    ASSERT_TRUE(offer);
    gui::Press(gui::ButtonOf(offer, L"是"));
    EXPECT_TRUE(gui::WaitForExit(program_, 15000));
    EXPECT_EQ(WaitForRecorded(record), L"https://127.0.0.1:18931/download/Velmora-2.6.zip\n");
}

TEST_F(UpdateCheck, AnAddressTheShellCannotOpenIsShownAndTheProgramGoesOn) {
    const std::wstring missing = L"\"Z:\\nonexistent\\no-browser.exe\" \"%1\"";
    ASSERT_EQ(RegSetValueW(HKEY_CLASSES_ROOT, L"https\\shell\\open\\command", REG_SZ, missing.c_str(),
                           DWORD(missing.size() * sizeof(wchar_t))), ERROR_SUCCESS);
    HWND offer = StartWithOffer(L"https://127.0.0.1:18931/download/Velmora-2.6.zip");
    ASSERT_TRUE(offer);
    gui::Press(gui::ButtonOf(offer, L"是"));
    HWND box = gui::WaitForBox(program_.pid, kRefusedTitle, 20000);
    ASSERT_TRUE(box);
    EXPECT_EQ(gui::BoxText(box), L"无法打开下载地址，请复制下面的地址到浏览器中打开：\r\n"
                                 L"https://127.0.0.1:18931/download/Velmora-2.6.zip");
    gui::Press(gui::ButtonOf(box, L"确定"));
    EXPECT_TRUE(PassNotice());
    EXPECT_FALSE(gui::WaitForExit(program_, 0));
}

TEST_F(UpdateCheck, APageCannotWriteItsOwnSentencesIntoTheBoxes) {
    // A "version" that is a sentence: no offer, the menu check says it failed.
    Start(kNotes, VersionPage(L"V2.6<br>安全警告：请点击“是”下载官方补丁并先关闭杀毒软件", L"https://127.0.0.1/x.zip"));
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    EXPECT_FALSE(gui::FindWindowOf(program_.pid, L"新版本提示："));
    EXPECT_EQ(MenuUpdateCheckSays(), L"检查更新失败，暂时无法读取版本信息，请稍后再试。");
    WritePage(L"version.htm", VersionPage(L"VelmoraV2.6.0.0101VelmoraV2.6.0.0101", L"https://127.0.0.1/x.zip"));
    EXPECT_EQ(MenuUpdateCheckSays(), L"检查更新失败，暂时无法读取版本信息，请稍后再试。");
    // Notes lose their control characters and stop at 500 characters.
    WritePage(L"notes.htm", L"<p>首1</p><p>修复\x07了\x1b界面\r\n错位</p><p>尾1</p><p>首2</p><p>" + std::wstring(3000, L'长') +
                                L"</p><p>尾2</p>");
    WritePage(L"version.htm", VersionPage(kNewVersion, L"https://127.0.0.1/x.zip"));
    ChooseTrayCommand(4);
    HWND offer = gui::WaitForBox(program_.pid, L"新版本提示：", 20000);
    ASSERT_TRUE(offer);
    EXPECT_EQ(gui::BoxText(offer), Offer(kNewVersion, L"修复了界面\r\n错位", std::wstring(500, L'长')));
    gui::Press(gui::ButtonOf(offer, L"否"));
}

TEST_F(UpdateCheck, AHostThatNeverAnswersHoldsTheStartOnlyBriefly) {
    // Accepted and never answered; one byte a second; a connection never
    // accepted; 300 MB; a redirect to itself; one off the list; cookies.
    for (const wchar_t* mode : {L"stall", L"trickle", L"blackhole", L"endless", L"selfredirect", L"offlist",
                                L"cookie"}) {
        SCOPED_TRACE(mode);
        PagesAnswer(mode);
        const ULONGLONG t0 = GetTickCount64();
        Start(kNotes, VersionPage(L"VelmoraV9.9.9.9999", L"http://127.0.0.1/x.zip"));
        HWND notice = gui::WaitForBox(program_.pid, kNoticeTitle, 30000);
        const ULONGLONG took = GetTickCount64() - t0;
        std::printf("%ls: start-up notice after %llu ms\n", mode, took);
        ASSERT_TRUE(notice);
        EXPECT_LT(took, 6000u);  // the check gives up after 3 s; a bound that cannot flake
        EXPECT_FALSE(gui::FindWindowOf(program_.pid, L"新版本提示："));  // nothing was read
        gui::Kill(program_);
    }
    // The cookie the pages set was not kept: this process reads the same store.
    const std::wstring page = L"http://127.0.0.1:" + EnvPath("VELMORA_HTTP_PORT") + L"/page/version.htm";
    wchar_t cookies[1024] = {};
    DWORD size = ARRAYSIZE(cookies);
    InternetGetCookieW(page.c_str(), nullptr, cookies, &size);
    EXPECT_EQ(std::wstring(cookies).find(L"velmora_page=planted"), std::wstring::npos);
}

TEST_F(UpdateCheck, TheMenuCheckWaitsWithTheProgramLive) {
    Start(kNotes, VersionPage(L"VelmoraV2.5.3.1025", L"http://127.0.0.1/x.zip"));
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    HWND marquee = Marquee(window);
    ASSERT_TRUE(marquee);
    PagesAnswer(L"stall");
    const ULONGLONG t0 = GetTickCount64();
    ChooseTrayCommand(4);  // 检查更新
    gui::Settle(500);
    const LONG x0 = gui::WindowRect(marquee).left;
    // The tray menu still opens while the check waits; its 检查更新 does nothing now.
    ChooseTrayCommand(4);
    gui::Settle(1500);
    EXPECT_LT(gui::WindowRect(marquee).left, x0 - 20);  // the marquee kept moving
    HWND box = gui::WaitForBox(program_.pid, L"更新提示", 20000);
    const ULONGLONG took = GetTickCount64() - t0;
    std::printf("menu check answered after %llu ms\n", took);
    ASSERT_TRUE(box);
    EXPECT_LT(took, 15000u);  // at most 10 s of waiting
    EXPECT_EQ(gui::BoxText(box), L"检查更新失败，暂时无法读取版本信息，请稍后再试。");
    gui::Press(gui::ButtonOf(box, L"确定"));
    gui::WaitGone(box);
    gui::Settle(1000);
    EXPECT_FALSE(gui::FindWindowOf(program_.pid, L"更新提示"));  // one check, one box
}

TEST_F(UpdateCheck, AStartWhileTheClosedOneStillWaitsForThePagesComesUp) {
    Start(kNotes, VersionPage(L"VelmoraV2.5.3.1025", L"http://127.0.0.1/x.zip"));
    HWND window = PassNotice();
    ASSERT_TRUE(window);
    PagesAnswer(L"stall");
    ChooseTrayCommand(4);  // 检查更新: its pages never come
    gui::Settle(500);
    ASSERT_TRUE(CloseWithOk(program_.pid, window));
    // The window is gone; the process still waits out the check.
    ASSERT_FALSE(gui::WaitForExit(program_, 0));
    gui::Program second = gui::Start(EnvPath("VELMORA_EXE"));
    EXPECT_TRUE(gui::WaitForBox(second.pid, kNoticeTitle, 15000));
    EXPECT_TRUE(gui::WaitForExit(program_, 15000));
    gui::Kill(second);
}

TEST_F(UpdateCheck, ASecondMenuCheckWhileTheOfferIsOpenDoesNothing) {
    const std::wstring record = RecordOpenedAddresses();
    ASSERT_FALSE(record.empty());
    HWND offer = StartWithOffer(L"https://127.0.0.1:18931/download/Velmora-2.6.zip");
    ASSERT_TRUE(offer);
    gui::Press(gui::ButtonOf(offer, L"否"));
    ASSERT_TRUE(PassNotice());
    ChooseTrayCommand(4);
    offer = gui::WaitForBox(program_.pid, L"新版本提示：", 20000);
    ASSERT_TRUE(offer);
    // The tray menu still answers while the offer is open; its 检查更新 does nothing.
    ChooseTrayCommand(4);
    gui::Settle(3000);
    int offers = 0;
    for (HWND h : gui::TopLevelWindows(program_.pid))
        if (gui::TextOf(h) == L"新版本提示：") ++offers;
    EXPECT_EQ(offers, 1);
    gui::Press(gui::ButtonOf(offer, L"是"));
    DWORD code = 1;
    for (int i = 0; i < 10 && !gui::WaitForExit(program_, 1000, &code); ++i)
        for (HWND h : gui::TopLevelWindows(program_.pid))
            if (gui::TextOf(h) == L"新版本提示：") gui::Press(gui::ButtonOf(h, L"是"));
    EXPECT_TRUE(gui::WaitForExit(program_, 0, &code));
    gui::Settle(1000);
    EXPECT_EQ(ReadRecorded(record), L"https://127.0.0.1:18931/download/Velmora-2.6.zip\n");  // opened once
}

// ---- the program built with a key: only signed announcements are offered --------

const std::wstring kNotVerified = L"新版本公告未能通过验证，没有提供更新。请稍后再试或访问官网下载新版本。";

class SignedUpdateCheck : public UpdateCheck {
protected:
    void SetUp() override {
        UpdateCheck::SetUp();
        if (IsSkipped()) return;
        if (EnvPath("VELMORA_SIGNED_EXE").empty()) GTEST_SKIP() << "run with the program built with a key";
        exeVariable_ = "VELMORA_SIGNED_EXE";
    }
    // The version page with the server's signature request in it.
    static std::wstring SignedPage(const std::wstring& download, const std::wstring& request) {
        return VersionPage(kNewVersion, download) + L"<!--sign " + request + L"-->";
    }
};

TEST_F(SignedUpdateCheck, APageSignedByTheMakersKeyIsOfferedAndOpened) {
    const std::wstring record = RecordOpenedAddresses();
    ASSERT_FALSE(record.empty());
    Start(kNotes, SignedPage(L"https://127.0.0.1:18931/download/Velmora-2.6.zip", L"key=test expires=2099-12-31 alter=0"));
    HWND offer = gui::WaitForBox(program_.pid, L"新版本提示：");
    ASSERT_TRUE(offer);
    EXPECT_EQ(gui::BoxText(offer), Offer(kNewVersion, L"修复了界面错位", L"新增三款主题"));
    gui::Press(gui::ButtonOf(offer, L"是"));
    EXPECT_TRUE(gui::WaitForExit(program_, 15000));
    EXPECT_EQ(WaitForRecorded(record), L"https://127.0.0.1:18931/download/Velmora-2.6.zip\n");
}

TEST_F(SignedUpdateCheck, AChangedByteAnotherKeyAnOldDateOrNoSignatureOfferNothing) {
    const std::wstring record = RecordOpenedAddresses();
    ASSERT_FALSE(record.empty());
    const std::wstring download = L"https://127.0.0.1:18931/download/Velmora-2.6.zip";
    // Unsigned at start-up: no offer, no box.
    Start(kNotes, VersionPage(kNewVersion, download));
    ASSERT_TRUE(PassNotice());
    EXPECT_FALSE(gui::FindWindowOf(program_.pid, L"新版本提示："));
    const std::wstring pages[] = {
        VersionPage(kNewVersion, download),
        SignedPage(download, L"key=test expires=2099-12-31 alter=1"),
        SignedPage(download, L"key=other expires=2099-12-31 alter=0"),
        SignedPage(download, L"key=test expires=2020-01-31 alter=0"),
    };
    for (const std::wstring& page : pages) {
        SCOPED_TRACE(testing::Message() << "page " << (&page - pages));
        WritePage(L"version.htm", page);
        ChooseTrayCommand(4);
        HWND box = gui::WaitForBox(program_.pid, kRefusedTitle, 20000);
        ASSERT_TRUE(box);
        EXPECT_EQ(gui::BoxText(box), kNotVerified);
        EXPECT_FALSE(gui::FindWindowOf(program_.pid, L"新版本提示："));
        gui::Press(gui::ButtonOf(box, L"确定"));
        gui::WaitGone(box);
    }
    // The version it runs is still told as current, signed or not.
    WritePage(L"version.htm", VersionPage(L"VelmoraV2.5.3.1025", download));
    EXPECT_EQ(MenuUpdateCheckSays(), L"当前已是最新版本，感谢使用~o(∩_∩)o ");
    EXPECT_EQ(ReadRecorded(record), L"");
}

TEST_F(UpdateCheck, ABuildWithoutAKeyNeedsNoSignatureAndIgnoresOne) {
    Start(kNotes, VersionPage(kNewVersion, L"https://127.0.0.1/x.zip") + L"<!--sign key=other expires=2020-01-01 alter=1-->");
    HWND offer = gui::WaitForBox(program_.pid, L"新版本提示：");
    ASSERT_TRUE(offer);
    gui::Press(gui::ButtonOf(offer, L"否"));
    EXPECT_TRUE(PassNotice());
}

}  // namespace
