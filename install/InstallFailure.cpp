#include "install/InstallFailure.h"

#include <windows.h>

#include "install/FolderLock.h"

bool NoteFailure(InstallFailure* failure, unsigned long error, const std::wstring& relativePath) {
    if (!failure || failure->problem != InstallProblem::None) return false;
    switch (error) {
        case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: case ERROR_USER_MAPPED_FILE:
            failure->problem = InstallProblem::InUse; break;
        case ERROR_ACCESS_DENIED: case ERROR_PRIVILEGE_NOT_HELD:
            failure->problem = InstallProblem::AccessDenied; break;
        case ERROR_WRITE_PROTECT:
            failure->problem = InstallProblem::WriteProtected; break;
        case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL:
            failure->problem = InstallProblem::DiskFull; break;
        default:
            failure->problem = InstallProblem::Other;
    }
    failure->error = error;
    failure->relativePath = relativePath;
    return false;
}

bool NoteDamaged(InstallFailure* failure, const std::wstring& relativePath) {
    if (!failure || failure->problem != InstallProblem::None) return false;
    failure->problem = InstallProblem::Damaged;
    failure->relativePath = relativePath;
    return false;
}

bool NoteStoreDamaged(InstallFailure* failure, const std::wstring& relativePath) {
    if (!failure || failure->problem != InstallProblem::None) return false;
    failure->problem = InstallProblem::StoreDamaged;
    failure->relativePath = relativePath;
    return false;
}

bool NoteBusy(InstallFailure* failure) {
    if (!failure || failure->problem != InstallProblem::None) return false;
    failure->problem = InstallProblem::Busy;
    failure->error = ERROR_SHARING_VIOLATION;
    failure->relativePath = kFolderLockName;
    return false;
}

bool NoteStrayOriginal(InstallFailure* failure, const std::wstring& relativePath) {
    if (!failure || failure->problem != InstallProblem::None) return false;
    failure->problem = InstallProblem::StrayOriginal;
    failure->error = ERROR_ALREADY_EXISTS;
    failure->relativePath = relativePath;
    return false;
}
