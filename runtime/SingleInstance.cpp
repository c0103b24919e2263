#include "runtime/SingleInstance.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>

#include "runtime/ScopedHandle.h"
#include "runtime/WindowInternal.h"

namespace {

// Local\: the user's own session; another user's Velmora is not ours to show.
constexpr wchar_t kClaimName[] = L"Local\\Velmora.SingleInstance";
// How long a start waits for an instance that holds the claim without a
// window: one still starting shows its window well within this, one ending
// lets go of the claim with its window.
constexpr ULONGLONG kClaimWaitMs = 5000;
// A busy instance (inside an install) answers when it next reads its messages.
constexpr UINT kAnswerWaitMs = 3000;

// The claim is the mutex's ownership, held by the GUI thread: a waiting
// start is woken when it is let go of, or when its owner dies (abandoned).
HANDLE g_claim = nullptr;

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

// True when the window took the request, or is busy and will read it later.
// False when it is going (the window was being destroyed) or refused us.
bool AskForWindowBack(HWND running) {
    // We were started by the user and may pass the foreground on.
    AllowSetForegroundWindow(ProcessOf(running));
    DWORD_PTR taken = 0;
    if (SendMessageTimeoutW(running, ShowAgainMessage(), 0, 0, SMTO_ABORTIFHUNG, kAnswerWaitMs, &taken))
        return taken == 1;
    return GetLastError() == ERROR_TIMEOUT && IsWindow(running);
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
        // Let go of by an instance whose window is gone, or left by one that died.
        if (claim && Take(claim.get(), 0)) {
            g_claim = claim.release();
            return false;
        }
        if (HWND running = FindWindowW(kMainClass, nullptr)) {
            if (!LacksOurRights(running)) {
                if (AskForWindowBack(running)) return true;
            } else if (!askedToMakeWay) {
                PostMessageW(running, MakeWayMessage(), 0, 0);
                askedToMakeWay = true;
            }
        }
        const ULONGLONG now = GetTickCount64();
        // A claim still held with no window behind it, or by one that did not
        // make way: run all the same, rather than end with nothing on screen.
        if (now >= deadline) return false;
        const DWORD wait = DWORD(std::min<ULONGLONG>(100, deadline - now));
        if (!claim) {
            Sleep(wait);
        } else if (Take(claim.get(), wait)) {
            g_claim = claim.release();
            return false;
        }
    }
}

void ExitDecided() {
    static bool decided = false;
    if (decided) return;
    decided = true;
    // For tests: the milliseconds VELMORA_TEST_EXIT_DELAY names are spent
    // here without reading messages, as a slow shell, a scanner or a loaded
    // machine would make the exit take that much longer.
    if (const wchar_t* delay = _wgetenv(L"VELMORA_TEST_EXIT_DELAY"); delay && *delay) Sleep(DWORD(_wtoi(delay)));
}

void ReleaseInstanceClaim() {
    if (!g_claim) return;
    ReleaseMutex(g_claim);
    CloseHandle(g_claim);
    g_claim = nullptr;
}
