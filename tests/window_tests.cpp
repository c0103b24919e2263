// The window layer in-process: a small layout, its events and properties.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "runtime/Process.h"
#include "runtime/Window.h"

namespace {

int g_ticks = 0;
int g_clicks = 0;
int g_created = 0;
int g_sizeChanges = 0;
bool g_allowClose = false;
int g_closeAsked = 0;

void Tick() { ++g_ticks; }
void Clicked() { ++g_clicks; }
void Created() { ++g_created; }
void SizeChanged() { ++g_sizeChanges; }
bool MayClose() {
    ++g_closeAsked;
    return g_allowClose;
}

const LayoutEntry kLayout[] = {
    {"窗口", ControlKind::Window, nullptr, 0, 0, 300, 200, "测试窗口"},
    {"分组框1", ControlKind::GroupBox, nullptr, 10, 10, 200, 100, "组"},
    {"选择框_甲", ControlKind::CheckBox, "分组框1", 8, 20, 90, 19, "甲", 0, kDefaultColour, nullptr, true, Clicked},
    {"编辑框1", ControlKind::EditBox, "分组框1", 8, 45, 120, 22, "初始", 0, Rgb(255, 255, 255), nullptr, true},
    {"标签1", ControlKind::Label, nullptr, 20, 150, 500, 16, "一行\r\n两行", Rgb(255, 0, 0)},
    {"超级链接框1", ControlKind::HyperLink, nullptr, 220, 20, 60, 12, "", Rgb(0, 0, 255), kDefaultColour,
     nullptr, false, nullptr, "http://127.0.0.1/", Rgb(128, 0, 0), Rgb(51, 153, 255)},
    {"时钟1", ControlKind::Timer, nullptr, 0, 0, 0, 0, "", kDefaultColour, kDefaultColour, nullptr, false, Tick},
    {"菜单", ControlKind::Menu, nullptr, 0, 0, 0, 0, ""},
};

// Each test has a window of its own, made anew and destroyed after it.
class LayoutWindow : public ::testing::Test {
protected:
    void SetUp() override {
        g_ticks = g_clicks = g_created = g_sizeChanges = g_closeAsked = 0;
        g_allowClose = false;
        const WindowEvents events = {Created, MayClose, SizeChanged, nullptr};
        ASSERT_TRUE(CreateLayoutWindow(kLayout, sizeof kLayout / sizeof kLayout[0], events, &window_));
    }
    void TearDown() override {
        if (WindowAlive(window_)) DestroyWindowLater(window_, true);
        // The last window gone, a quit message waits: it would end every later box at once.
        MSG msg;
        while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
    }
    WindowRef window_ = nullptr;
};

TEST_F(LayoutWindow, CreatedRunsOnceBeforeTheWindowShows) {
    ASSERT_TRUE(WindowAlive(window_));
    EXPECT_EQ(g_created, 1);
    EXPECT_GE(g_sizeChanges, 1);
    EXPECT_TRUE(GetProperty(window_, nullptr, kPropVisible).AsBool());
    EXPECT_EQ(GetProperty(window_, nullptr, kPropTitle).text, "测试窗口");
    EXPECT_EQ(GetProperty(window_, nullptr, kPropWidth).number, 300);
}

TEST_F(LayoutWindow, PositionsAreRelativeToTheParent) {
    EXPECT_EQ(GetProperty(window_, "选择框_甲", kPropLeft).number, 8);
    EXPECT_EQ(GetProperty(window_, "标签1", kPropLeft).number, 20);
    EXPECT_EQ(GetProperty(window_, "标签1", kPropWidth).number, 500);
    SetProperty(window_, "标签1", kPropLeft, -7);
    EXPECT_EQ(GetProperty(window_, "标签1", kPropLeft).number, -7);
    EXPECT_EQ(GetProperty(window_, "没有这个", kPropLeft).number, 0);
}

TEST_F(LayoutWindow, EditContentAndDisabledState) {
    EXPECT_EQ(GetProperty(window_, "编辑框1", kPropContent).text, "初始");
    SetProperty(window_, "编辑框1", kPropContent, Text("D:\\英雄联盟"));
    EXPECT_EQ(GetProperty(window_, "编辑框1", kPropContent).text, "D:\\英雄联盟");
    EXPECT_FALSE(GetProperty(window_, "编辑框1", kPropDisabled).AsBool());
    SetProperty(window_, "编辑框1", kPropDisabled, true);
    EXPECT_TRUE(GetProperty(window_, "编辑框1", kPropDisabled).AsBool());
    SetProperty(window_, "编辑框1", kPropDisabled, false);
    EXPECT_FALSE(GetProperty(window_, "编辑框1", kPropDisabled).AsBool());
}

TEST_F(LayoutWindow, OnlyTrueTicksACheckBox) {
    EXPECT_FALSE(GetProperty(window_, "选择框_甲", kPropTicked).AsBool());
    SetProperty(window_, "选择框_甲", kPropTicked, true);
    EXPECT_TRUE(GetProperty(window_, "选择框_甲", kPropTicked).AsBool());
    SetProperty(window_, "选择框_甲", kPropTicked, 2);
    EXPECT_FALSE(GetProperty(window_, "选择框_甲", kPropTicked).AsBool());
}

TEST_F(LayoutWindow, ClicksReachTheHandlerThroughTheGroupBox) {
    const int before = g_clicks;
    HWND group = FindWindowExW(FindWindowW(nullptr, L"测试窗口"), nullptr, L"Button", L"组");
    ASSERT_TRUE(group);
    HWND box = FindWindowExW(group, nullptr, L"Button", L"甲");
    ASSERT_TRUE(box);
    SendMessageW(box, BM_CLICK, 0, 0);
    EXPECT_EQ(g_clicks, before + 1);
    // An automatic check box toggles itself before its handler runs.
    EXPECT_TRUE(GetProperty(window_, "选择框_甲", kPropTicked).AsBool());
}

TEST_F(LayoutWindow, OnlyATimerRunsAHandlerOnATimerTick) {
    HWND hwnd = FindWindowW(nullptr, L"测试窗口");
    HWND group = FindWindowExW(hwnd, nullptr, L"Button", L"组");
    HWND box = FindWindowExW(group, nullptr, L"Button", L"甲");
    ASSERT_TRUE(box);
    // A tick whose id is the check box's: not a click.
    SendMessageW(hwnd, WM_TIMER, WPARAM(GetDlgCtrlID(box)), 0);
    EXPECT_EQ(g_clicks, 0);
}

LRESULT CALLBACK RefuseCreation(int code, WPARAM w, LPARAM l) {
    return code == HCBT_CREATEWND ? 1 : CallNextHookEx(nullptr, code, w, l);
}

TEST(LayoutWindowCreation, AWindowThatCannotBeMadeGivesNothing) {
    // The system refuses every window of this thread while the hook is in.
    HHOOK refuse = SetWindowsHookExW(WH_CBT, RefuseCreation, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(refuse);
    g_created = 0;
    WindowRef window = reinterpret_cast<WindowRef>(1);
    const WindowEvents events = {Created, MayClose, SizeChanged, nullptr};
    const WindowRef made = CreateLayoutWindow(kLayout, sizeof kLayout / sizeof kLayout[0], events, &window);
    UnhookWindowsHookEx(refuse);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(g_created, 0);
}

TEST_F(LayoutWindow, TimerIntervalsStartStopAndIgnoreNegatives) {
    g_ticks = 0;
    SetProperty(window_, "时钟1", kPropInterval, 20);
    Delay(300);
    const int ticked = g_ticks;
    EXPECT_GE(ticked, 5);
    SetProperty(window_, "时钟1", kPropInterval, -5);
    Delay(150);
    const int stopped = g_ticks;
    Delay(200);
    EXPECT_EQ(g_ticks, stopped);
}

TEST_F(LayoutWindow, DelayKeepsHandlersRunning) {
    g_ticks = 0;
    SetProperty(window_, "时钟1", kPropInterval, 10);
    const ULONGLONG t0 = GetTickCount64();
    Delay(0);
    Delay(-5);
    EXPECT_LT(GetTickCount64() - t0, 50u);
    Delay(200);
    EXPECT_GE(GetTickCount64() - t0, 200u);
    EXPECT_GT(g_ticks, 3);
    SetProperty(window_, "时钟1", kPropInterval, 0);
}

TEST_F(LayoutWindow, VisibilityAndWindowState) {
    SetProperty(window_, nullptr, kPropVisible, false);
    EXPECT_FALSE(GetProperty(window_, nullptr, kPropVisible).AsBool());
    SetProperty(window_, nullptr, kPropVisible, true);
    EXPECT_TRUE(GetProperty(window_, nullptr, kPropVisible).AsBool());
    EXPECT_EQ(GetProperty(window_, nullptr, kPropWindowState).number, kStateNormal);
    HWND hwnd = FindWindowW(nullptr, L"测试窗口");
    ShowWindow(hwnd, SW_MINIMIZE);
    EXPECT_EQ(GetProperty(window_, nullptr, kPropWindowState).number, kStateMinimised);
    SetProperty(window_, nullptr, kPropWindowState, kStateNormal);
    EXPECT_EQ(GetProperty(window_, nullptr, kPropWindowState).number, kStateNormal);
}

TEST_F(LayoutWindow, CloseAsksAndDestroyLaterSkipsTheQuestion) {
    HWND hwnd = FindWindowW(nullptr, L"测试窗口");
    g_allowClose = false;
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(g_closeAsked, 1);
    EXPECT_TRUE(WindowAlive(window_));
    EXPECT_FALSE(SendMessageW(hwnd, WM_QUERYENDSESSION, 0, 0));
    EXPECT_EQ(g_closeAsked, 2);

    DestroyWindowLater(window_);
    EXPECT_TRUE(WindowAlive(window_));  // not before its message is handled
    Delay(50);
    EXPECT_FALSE(WindowAlive(window_));
    EXPECT_EQ(g_closeAsked, 2);
    // The last window gone, the loop's quit message waits.
    MSG msg;
    // Taken out again: a waiting quit message would end every later box at once.
    EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST_F(LayoutWindow, ASecondStartHearsFromTheMomentTheEndIsDecidedThatTheWindowIsEnding) {
    HWND hwnd = FindWindowW(nullptr, L"测试窗口");
    const UINT showAgain = RegisterWindowMessageW(L"Velmora.ShowMainWindowAgain");
    // Cancel in the exit question: it stays, and takes the request.
    g_allowClose = false;
    SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(SendMessageW(hwnd, showAgain, 0, 0), 1);
    // Destroyed without asking (the update's 是): ending before it is done.
    DestroyWindowLater(window_);
    ASSERT_TRUE(WindowAlive(window_));
    EXPECT_EQ(SendMessageW(hwnd, showAgain, 0, 0), 2);
    Delay(50);
    EXPECT_FALSE(WindowAlive(window_));
}

// ---- messages from programs with fewer rights ---------------------------------

struct FilterCall {
    HWND hwnd;
    UINT message;
    DWORD action;
};
std::vector<FilterCall> g_filterCalls;

BOOL WINAPI RecordFilter(HWND hwnd, UINT message, DWORD action, PCHANGEFILTERSTRUCT) {
    g_filterCalls.push_back({hwnd, message, action});
    return TRUE;
}

// Points this executable's import of a user32 function elsewhere and returns
// what it pointed at (nullptr when there is no such import). Wine keeps no
// message filters, so the calls themselves are what can be seen.
void* ReplaceUser32Import(const char* function, void* standIn) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); dll->Name; ++dll) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + dll->Name), "user32.dll") != 0) continue;
        auto* name = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* slot = reinterpret_cast<void**>(base + dll->FirstThunk);
        for (; name->u1.AddressOfData; ++name, ++slot) {
            if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
            const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD old = 0;
            VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
            void* was = *slot;
            *slot = standIn;
            VirtualProtect(slot, sizeof *slot, old, &old);
            return was;
        }
    }
    return nullptr;
}

int g_shownAgain = 0;
void ShownAgain() { ++g_shownAgain; }

TEST(LayoutWindowRights, AnElevatedWindowStillHearsTheTaskbarAndASecondStart) {
    void* real = ReplaceUser32Import("ChangeWindowMessageFilterEx", reinterpret_cast<void*>(RecordFilter));
    ASSERT_TRUE(real) << "the window layer does not call ChangeWindowMessageFilterEx";
    g_filterCalls.clear();
    g_shownAgain = 0;
    WindowRef window = nullptr;
    const WindowEvents events = {nullptr, nullptr, nullptr, nullptr, ShownAgain};
    const bool made = CreateLayoutWindow(kLayout, sizeof kLayout / sizeof kLayout[0], events, &window);
    ReplaceUser32Import("ChangeWindowMessageFilterEx", real);
    ASSERT_TRUE(made);
    HWND hwnd = FindWindowW(L"VelmoraMainWindow", L"测试窗口");
    ASSERT_TRUE(hwnd);

    const UINT taskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    const UINT showAgain = RegisterWindowMessageW(L"Velmora.ShowMainWindowAgain");
    std::vector<UINT> allowed;
    for (const FilterCall& call : g_filterCalls) {
        EXPECT_EQ(call.hwnd, hwnd);
        EXPECT_EQ(call.action, DWORD(MSGFLT_ALLOW));
        allowed.push_back(call.message);
    }
    std::sort(allowed.begin(), allowed.end());
    std::vector<UINT> wanted = {taskbarCreated, showAgain};
    std::sort(wanted.begin(), wanted.end());
    EXPECT_EQ(allowed, wanted);  // and nothing else: no closing, no clicks from below

    // And the request reaches the window's event, which says it was taken.
    EXPECT_EQ(SendMessageW(hwnd, showAgain, 0, 0), 1);
    EXPECT_EQ(g_shownAgain, 1);
    DestroyWindowLater(window, true);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
}

}  // namespace
