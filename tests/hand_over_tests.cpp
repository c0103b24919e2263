// A second start against a first one that ends and against one that stays,
// on a plain X display: a desktop of Wine's that is not its virtual desktop
// (which the other suites use). There Wine takes about two seconds for each
// window it takes down, waiting for a window manager that is not there: the
// gap in which a start used to hand over to an instance that was ending,
// and end with nothing on screen.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <deque>
#include <functional>
#include <string>

#include "GuiDriver.h"

namespace {

// Named nowhere in Wine's Desktops key: Wine gives it no virtual desktop.
const wchar_t kPlainDesktop[] = L"VelmoraPlain";
const std::wstring kTitle = L"VelmoraV2.5.3.1025";
const std::wstring kNoticeTitle = L"温馨提醒：";
const wchar_t kMainClass[] = L"VelmoraMainWindow";
// As slow an exit as a loaded machine or a busy shell makes it, on top of Wine's.
const wchar_t kExitDelayMs[] = L"2000";

DWORD WINAPI RunBody(void* body) {
    (*static_cast<std::function<void()>*>(body))();
    return 0;
}

// A thread sees the windows of its own desktop only, and one that has made
// windows may not change desktops: the test's body gets a thread of its own
// on the plain desktop.
void OnPlainDesktop(std::function<void()> body) {
    // Made once and kept: it lives as long as a handle to it does.
    static HDESK made = CreateDesktopW(kPlainDesktop, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ASSERT_TRUE(made);
    std::function<void()> onDesktop = [&] {
        // A handle of the thread's own: Wine closes the one a thread was set
        // to when that thread ends.
        HDESK desktop = OpenDesktopW(kPlainDesktop, 0, FALSE, GENERIC_ALL);
        ASSERT_TRUE(desktop);
        ASSERT_TRUE(SetThreadDesktop(desktop)) << GetLastError();
        body();
    };
    HANDLE thread = CreateThread(nullptr, 0, RunBody, &onDesktop, 0, nullptr);
    ASSERT_TRUE(thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

BOOL CALLBACK CountMainWindow(HWND hwnd, LPARAM count) {
    wchar_t klass[64] = {};
    GetClassNameW(hwnd, klass, 64);
    if (IsWindowVisible(hwnd) && std::wstring(klass) == kMainClass) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

// Velmora's main windows on screen, whichever process they belong to.
int MainWindowsShown() {
    int count = 0;
    EnumWindows(CountMainWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

class PlainDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        exe_ = gui::EnvPath("VELMORA_EXE");
        ASSERT_FALSE(exe_.empty()) << "VELMORA_EXE names the program";
        // Inherited by every start of this test.
        SetEnvironmentVariableW(L"VELMORA_TEST_EXIT_DELAY", kExitDelayMs);
    }
    void TearDown() override {
        for (gui::Program& p : started_) gui::Kill(p);
        SetEnvironmentVariableW(L"VELMORA_TEST_EXIT_DELAY", nullptr);
    }

    // Ended when the test ends, however it ends.
    gui::Program& Start() {
        started_.push_back(gui::StartOnDesktop(exe_, kPlainDesktop));
        return started_.back();
    }
    // Presses OK in the start-up notice and waits for the window.
    static HWND PassNotice(const gui::Program& p) {
        HWND notice = gui::WaitForBox(p.pid, kNoticeTitle, 20000);
        if (!notice) return nullptr;
        gui::Press(gui::ButtonOf(notice, L"确定"));
        return gui::WaitForWindow(p.pid, kTitle, kMainClass, 20000);
    }
    // Closes the window with 确定 in the exit question; false when it is not asked.
    static bool CloseWithOk(const gui::Program& p, HWND window) {
        PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        HWND ask = gui::WaitForBox(p.pid, L"程序准备关闭中~~", 20000);
        if (!ask) return false;
        gui::Press(gui::ButtonOf(ask, L"确定"));
        return true;
    }

    std::wstring exe_;
    std::deque<gui::Program> started_;
};

TEST_F(PlainDisplay, AStartWhileTheClosedOneIsStillEndingComesUp) {
    OnPlainDesktop([&] {
        gui::Program* running = &Start();
        HWND window = PassNotice(*running);
        for (const DWORD moment : {300u, 1000u, 3000u}) {
            SCOPED_TRACE(testing::Message() << "started again " << moment << " ms after the close");
            if (!window) {
                gui::Kill(*running);
                running = &Start();
                window = PassNotice(*running);
            }
            ASSERT_TRUE(window);
            ASSERT_TRUE(CloseWithOk(*running, window));
            const ULONGLONG closed = GetTickCount64();
            Sleep(moment);
            const bool firstStillThere = !gui::WaitForExit(*running, 0);
            gui::Program& second = Start();
            ASSERT_TRUE(second.process);

            HWND notice = nullptr;
            DWORD code = 0;
            bool ended = false;
            while (!notice && !ended && GetTickCount64() - closed < 25000) {
                notice = gui::FindWindowOf(second.pid, kNoticeTitle, L"#32770");
                ended = gui::WaitForExit(second, 20, &code);
            }
            const ULONGLONG seen = GetTickCount64() - closed;
            DWORD firstEndedAt = 0;
            if (gui::WaitForExit(*running, 25000)) firstEndedAt = DWORD(GetTickCount64() - closed);
            const std::string outcome = notice  ? "showed its notice"
                                        : ended ? "ended with code " + std::to_string(code)
                                                : "showed nothing";
            std::printf("closed with OK, started again %lu ms later (the first %s): the second %s, %llu ms after "
                        "the close; the first ended %lu ms after it\n",
                        moment, firstStillThere ? "still running" : "already gone", outcome.c_str(), seen,
                        firstEndedAt);
            EXPECT_TRUE(firstStillThere) << "started after the exit, not during it";
            EXPECT_TRUE(notice) << "the second start " << outcome;
            EXPECT_NE(firstEndedAt, 0u) << "the closed one ends";
            gui::Kill(*running);
            window = notice ? PassNotice(second) : nullptr;
            EXPECT_TRUE(window);
            if (window) {
                EXPECT_EQ(MainWindowsShown(), 1);
            }
            running = &second;
        }
    });
}

TEST_F(PlainDisplay, AStartHandsOverToOneThatStaysWithNoSecondWindow) {
    OnPlainDesktop([&] {
        const gui::Program& running = Start();
        HWND window = PassNotice(running);
        ASSERT_TRUE(window);
        SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        for (int i = 0; i < 250 && IsWindowVisible(window); ++i) Sleep(20);
        ASSERT_FALSE(IsWindowVisible(window));

        const ULONGLONG t0 = GetTickCount64();
        const gui::Program& second = Start();
        DWORD code = 1;
        bool boxed = false;
        while (!gui::WaitForExit(second, 20, &code) && GetTickCount64() - t0 < 15000)
            boxed = boxed || gui::FindWindowOf(second.pid, kNoticeTitle);
        std::printf("the second start ended after %llu ms\n", GetTickCount64() - t0);
        EXPECT_TRUE(gui::WaitForExit(second, 0, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_FALSE(boxed);
        for (int i = 0; i < 250 && !IsWindowVisible(window); ++i) Sleep(20);
        EXPECT_TRUE(IsWindowVisible(window));
        EXPECT_EQ(MainWindowsShown(), 1);
    });
}

}  // namespace
