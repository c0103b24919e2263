#include "runtime/SingleInstance.h"

#include <windows.h>

#include "runtime/WindowInternal.h"

unsigned ShowAgainMessage() {
    static const UINT message = RegisterWindowMessageW(L"Velmora.ShowMainWindowAgain");
    return message;
}

bool HandOverToRunningInstance() {
    // Local\: the user's own session; another user's Velmora is not ours to
    // show. The handle stays open for the life of the process: that is the claim.
    HANDLE claim = CreateMutexW(nullptr, FALSE, L"Local\\Velmora.SingleInstance");
    const DWORD error = GetLastError();  // read at once: nothing may come between
    if (!claim || error != ERROR_ALREADY_EXISTS) return false;
    CloseHandle(claim);
    if (HWND running = FindWindowW(kMainClass, nullptr)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(running, &pid);
        // We were started by the user and may pass the foreground on.
        AllowSetForegroundWindow(pid);
        PostMessageW(running, ShowAgainMessage(), 0, 0);
    }
    return true;
}
