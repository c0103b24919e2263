#include "install/FolderLock.h"

#include "install/InstallSteps.h"

const wchar_t kFolderLockName[] = L"velmora-install.velmora-lock";

bool FolderLock::Take(const std::wstring& game, InstallFailure* failure, DWORD patienceMs) {
    const std::wstring path = game + L"\\" + kFolderLockName;
    for (DWORD waited = 0, wait = 25;; waited += wait, wait = wait < 400 ? wait * 2 : 400) {
        // DELETE access with FILE_FLAG_DELETE_ON_CLOSE: the name goes with the last handle.
        file_.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (file_) return true;
        const DWORD error = GetLastError();
        // A lock being deleted as its holder closes it answers access denied for a moment.
        const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                          (error == ERROR_ACCESS_DENIED && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES);
        if (!busy) return NoteFailure(failure, error, kFolderLockName);
        if (waited + wait > patienceMs) return NoteBusy(failure);
        Sleep(wait);
    }
}
