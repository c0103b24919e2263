#include "runtime/Process.h"

#include <windows.h>
#include <ole2.h>

#include <vector>

#include "runtime/Encoding.h"
#include "runtime/FileUtil.h"
#include "runtime/SingleInstance.h"

namespace {

MessageFilter g_filter = nullptr;

std::vector<std::function<void()>>& EndSteps() {
    static std::vector<std::function<void()>> steps;
    return steps;
}

void Dispatch(MSG& msg) {
    if (g_filter && g_filter(&msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

POINT Cursor() {
    POINT p = {0, 0};
    GetCursorPos(&p);
    return p;
}

}  // namespace

void InitRuntime() {
    SetCurrentDirectoryW(GbkToWide(ProgramFolder()).c_str());
    OleInitialize(nullptr);
    ResetRandomState();
}

void SetMessageFilter(MessageFilter filter) { g_filter = filter; }

bool DispatchPendingMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (msg.message == WM_QUIT) return false;
        if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) break;
        // A quit posted between the two peeks must stay for the loop that ends on it.
        if (msg.message == WM_QUIT) {
            PostQuitMessage(int(msg.wParam));
            return false;
        }
        Dispatch(msg);
    }
    return true;
}

int RunMessageLoop() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) Dispatch(msg);
    return int(msg.wParam);
}

void Delay(int milliseconds) {
    if (milliseconds <= 0) return;
    // 64-bit ticks: the 32-bit count wraps after 49 days.
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG(milliseconds);
    for (;;) {
        if (!DispatchPendingMessages()) {
            // A waiting quit message would wake us at once; spin out the time.
            while (GetTickCount64() <= deadline) Sleep(1);
            return;
        }
        const ULONGLONG now = GetTickCount64();
        if (now > deadline) return;
        // Sleep until a message arrives or the time is up instead of spinning.
        MsgWaitForMultipleObjectsEx(0, nullptr, DWORD(deadline - now + 1), QS_ALLINPUT,
                                    MWMO_INPUTAVAILABLE);
    }
}

int CursorX() { return Cursor().x; }
int CursorY() { return Cursor().y; }

void AtProgramEnd(std::function<void()> step) { EndSteps().push_back(std::move(step)); }

void EndProgram(int exitCode) {
    // The thread reads no message from here on: a start meanwhile gets no
    // answer and finds the claim free.
    ExitDecided();
    auto& steps = EndSteps();
    while (!steps.empty()) {
        auto step = std::move(steps.back());
        steps.pop_back();
        step();
    }
    ExitProcess(UINT(exitCode));
}
