// One install, undo or recovery at a time in a Game folder, across
// instances: an elevated start beside a plain one, two Windows users, or a
// start that gave up waiting for the first. Each holds the lock file from
// before it reads anything (the journal, the record, the staged pack
// archive) until its last step, so that none works from what it read while
// another changes the folder under it.
//
// The lock is "velmora-install.velmora-lock" in the Game folder, opened
// without sharing. It is deleted when its handle closes, which the system
// does for a process that dies too; one left by a power cut is simply
// opened again. Nothing is ever read from it.
#pragma once

#include <windows.h>

#include <string>

#include "runtime/ScopedHandle.h"
#include "install/InstallFailure.h"

extern const wchar_t kFolderLockName[];
// How long a second instance waits for the first to finish before it refuses.
constexpr DWORD kFolderLockPatienceMs = 5000;

class FolderLock {
public:
    FolderLock() = default;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    // Takes the lock of `game` (an extended path), waiting while another
    // holds it. False with the failure: problem Busy when another still
    // holds it, else the Win32 error (a Game folder we may not write).
    bool Take(const std::wstring& game, InstallFailure* failure, DWORD patienceMs = kFolderLockPatienceMs);
    bool held() const { return bool(file_); }

private:
    ScopedFile file_;
};
