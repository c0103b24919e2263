#include "install/FolderLock.h"

#include "install/InstallSteps.h"

const wchar_t kFolderLockName[] = L"velmora-install.velmora-lock";

namespace {

// Whether another process holds the lock file open: its holder shares
// nothing, so even a look that shares everything meets a sharing violation.
// A lock file that merely refuses us (its holder deleting it this moment, or
// one left behind that we may not delete) answers access denied instead.
bool HeldByAnother(const std::wstring& path) {
    ScopedFile look(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (look) return false;
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

}  // namespace

bool FolderLock::Take(const std::wstring& game, InstallFailure* failure, DWORD patienceMs) {
    const std::wstring path = game + L"\\" + kFolderLockName;
    bool lifted = false;
    for (DWORD waited = 0, wait = 25;; waited += wait, wait = wait < 400 ? wait * 2 : 400) {
        // DELETE access with FILE_FLAG_DELETE_ON_CLOSE: the name goes with the last handle.
        file_.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (file_) return true;
        DWORD error = GetLastError();
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES) {
            // One left behind by a power cut and made read-only since (a
            // copy, a restored backup) cannot be opened for delete: it is
            // nobody's, and read-only is lifted once.
            if (!lifted && (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                lifted = true;
                if (SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN)) continue;
            }
            if (HeldByAnother(path)) error = ERROR_SHARING_VIOLATION;
        }
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
        // Access denied on a lock file that stands but nobody holds: one
        // being deleted as its holder closes it passes in a moment; one we
        // may not open stays, and is named rather than taken for another Velmora.
        const bool refused = error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES;
        if (!held && !refused) return NoteFailure(failure, error, kFolderLockName);
        if (waited + wait > patienceMs)
            return held ? NoteBusy(failure) : NoteFailure(failure, error, kFolderLockName);
        Sleep(wait);
    }
}
