#include "runtime/SingleInstance.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "runtime/ScopedHandle.h"
#include "runtime/WindowInternal.h"

namespace {

// Local\: the user's own session; another user's Velmora is not ours to show.
constexpr wchar_t kClaimName[] = L"Local\\Velmora.SingleInstance";
// How long a start waits for an instance that holds the claim without
// handing over: one still starting shows its window well within this, one
// busy (inside an install) answers when it next reads its messages, and one
// ending lets go of the claim as soon as its exit is decided.
constexpr ULONGLONG kClaimWaitMs = 5000;
// The running window's answer to our request, while none has come.
constexpr LRESULT kNoAnswer = -1;

// The claim is the mutex's ownership, held by the GUI thread: a waiting
// start is woken when it is let go of, or when its owner dies (abandoned).
HANDLE g_claim = nullptr;
LRESULT g_answer = kNoAnswer;

bool Take(HANDLE claim, DWORD waitMs) {
    const DWORD got = WaitForSingleObject(claim, waitMs);
    return got == WAIT_OBJECT_0 || got == WAIT_ABANDONED;
}

// `unknown` when the process's token cannot be read.
bool Elevated(HANDLE process, bool unknown) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return unknown;
    ScopedKernelHandle owner(token);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size)) return unknown;
    return elevation.TokenIsElevated != 0;
}

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

// We run as administrator and the running one does not. One whose rights
// cannot be read is taken to have ours: it gets the request, as ever.
bool LacksOurRights(HWND running) {
    if (!Elevated(GetCurrentProcess(), false)) return false;
    ScopedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ProcessOf(running)));
    return process && !Elevated(process.get(), true);
}

void CALLBACK TakeAnswer(HWND, UINT, ULONG_PTR, LRESULT answer) { g_answer = answer; }

// Asked without waiting for the answer: a window whose thread is busy, or
// inside the taking down of a window (seconds, under Wine without a window
// manager), answers late or never, and meanwhile an instance that is ending
// lets go of the claim. The answer comes while we read our messages.
void AskForWindowBack(HWND running) {
    // We were started by the user and may pass the foreground on.
    AllowSetForegroundWindow(ProcessOf(running));
    SendMessageCallbackW(running, ShowAgainMessage(), 0, 0, TakeAnswer, 0);
}

// True when the claim was taken (we had a handle to it) within waitMs; an
// answer that came meanwhile is in g_answer.
bool WaitForClaimOrAnswer(HANDLE claim, DWORD waitMs) {
    const DWORD got = MsgWaitForMultipleObjects(claim ? 1 : 0, &claim, FALSE, waitMs, QS_ALLINPUT);
    if (claim && (got == WAIT_OBJECT_0 || got == WAIT_ABANDONED_0)) return true;
    // Delivers the answer; nothing is posted to a start without a window.
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    return false;
}

}  // namespace

unsigned ShowAgainMessage() {
    static const UINT message = RegisterWindowMessageW(L"Velmora.ShowMainWindowAgain");
    return message;
}

unsigned MakeWayMessage() {
    static const UINT message = RegisterWindowMessageW(L"Velmora.MakeWayForAdministrator");
    return message;
}

bool HandOverToRunningInstance() {
    const ULONGLONG deadline = GetTickCount64() + kClaimWaitMs;
    bool askedToMakeWay = false;
    HWND asked = nullptr;
    for (;;) {
        ScopedKernelHandle claim(CreateMutexW(nullptr, TRUE, kClaimName));
        const DWORD error = GetLastError();  // read at once: nothing may come between
        if (claim && error != ERROR_ALREADY_EXISTS) {
            g_claim = claim.release();
            return false;
        }
        // Denied: the claim of an instance run as administrator, whose
        // mutex a start without those rights may not open. Anything else:
        // there is no claim to be had, so nothing to hand over to.
        if (!claim && error != ERROR_ACCESS_DENIED) return false;
        // Let go of by an instance whose exit is decided, or left by one that died.
        if (claim && Take(claim.get(), 0)) {
            g_claim = claim.release();
            return false;
        }
        // Only an instance that stays says so; a time-out is no answer.
        if (g_answer == kShowAgainTaken) return true;
        if (HWND running = FindWindowW(kMainClass, nullptr)) {
            if (LacksOurRights(running)) {
                if (!askedToMakeWay) PostMessageW(running, MakeWayMessage(), 0, 0);
                askedToMakeWay = true;
            } else if (running != asked) {
                AskForWindowBack(running);
                asked = running;
            }
        }
        const ULONGLONG now = GetTickCount64();
        // A claim still held by one that neither answered nor let go, or
        // did not make way: run all the same, rather than end with nothing
        // on screen.
        if (now >= deadline) return false;
        if (WaitForClaimOrAnswer(claim.get(), DWORD(std::min<ULONGLONG>(100, deadline - now)))) {
            g_claim = claim.release();
            return false;
        }
    }
}

void ExitDecided() {
    // First of all: a start from now on finds the claim free and comes up,
    // however long the windows take to go.
    ReleaseInstanceClaim();
    // For tests: the milliseconds VELMORA_TEST_EXIT_DELAY names are spent
    // here, once, without reading messages, as a slow shell, a scanner or a
    // loaded machine would make the exit take that much longer.
    static bool delayed = false;
    if (delayed) return;
    delayed = true;
    if (const wchar_t* delay = _wgetenv(L"VELMORA_TEST_EXIT_DELAY"); delay && *delay) Sleep(DWORD(_wtoi(delay)));
}

void ReleaseInstanceClaim() {
    if (!g_claim) return;
    ReleaseMutex(g_claim);
    CloseHandle(g_claim);
    g_claim = nullptr;
}
