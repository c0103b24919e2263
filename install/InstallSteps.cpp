#include "install/InstallSteps.h"

#include "runtime/ScopedHandle.h"

namespace {

InstallStepHook g_hook = nullptr;
bool g_durable = true;

}  // namespace

void SetInstallStepHook(InstallStepHook hook) { g_hook = hook; }

void SetDurableWrites(bool durable) { g_durable = durable; }
bool DurableWrites() { return g_durable; }

bool InUseError(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION;
}

bool TellStep(InstallStep step, const std::wstring& path, const std::wstring& to) {
    if (!g_hook) return true;
    const unsigned long error = g_hook(step, path, to);
    if (error == 0) return true;
    SetLastError(error);
    return false;
}

HANDLE CreateFileStep(const std::wstring& path, DWORD disposition, DWORD share) {
    if (!TellStep(InstallStep::Create, path)) return INVALID_HANDLE_VALUE;
    return CreateFileW(path.c_str(), GENERIC_WRITE, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool WriteStep(InstallStep step, HANDLE file, const void* data, DWORD size, const std::wstring& path) {
    if (!TellStep(step, path)) return false;
    DWORD wrote = 0;
    if (!WriteFile(file, data, size, &wrote, nullptr)) return false;
    if (wrote == size) return true;
    SetLastError(ERROR_DISK_FULL);
    return false;
}

namespace {

// Read-only, hidden and system on a file stop a delete, and a rename over it.
constexpr DWORD kInTheWay = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Lifts them; false when there were none (or they stay).
bool LiftAttributes(const std::wstring& path, DWORD attributes) {
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & kInTheWay)) return false;
    // Zero would leave the attributes as they are.
    const DWORD rest = attributes & ~kInTheWay;
    return SetFileAttributesW(path.c_str(), rest ? rest : FILE_ATTRIBUTE_NORMAL) != FALSE;
}

// Runs `attempt` with them lifted off `path`; if it fails, nothing took the
// file's place, and the file gets them back.
template <class Attempt>
bool WithAttributesLifted(const std::wstring& path, Attempt attempt) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool lifted = LiftAttributes(path, attributes);
    if (attempt()) return true;
    const DWORD error = GetLastError();
    if (lifted) SetFileAttributesW(path.c_str(), attributes);
    SetLastError(error);
    return false;
}

// A game that holds the file stays in the way: it fails after about a third of a second.
bool Move(const std::wstring& from, const std::wstring& to, DWORD flags) {
    return RetryWhileInUse([&] { return MoveFileExW(from.c_str(), to.c_str(), flags) != FALSE; }, 375);
}

}  // namespace

bool RenameStep(const std::wstring& from, const std::wstring& to) {
    return TellStep(InstallStep::Rename, from, to) && Move(from, to, 0);
}

bool ReplaceStep(const std::wstring& from, const std::wstring& to) {
    return TellStep(InstallStep::Rename, from, to) &&
           WithAttributesLifted(to, [&] { return Move(from, to, MOVEFILE_REPLACE_EXISTING); });
}

bool DeleteStep(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    }
    if (!TellStep(InstallStep::Delete, path)) return false;
    LiftAttributes(path, attributes);
    if (RetryWhileInUse([&] { return DeleteFileW(path.c_str()) != FALSE; }, 375)) return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool DeleteHeldStep(HANDLE file, const std::wstring& path) {
    FILE_DISPOSITION_INFO dispose = {TRUE};
    return TellStep(InstallStep::Delete, path) && WithAttributesLifted(path, [&] {
               return SetFileInformationByHandle(file, FileDispositionInfo, &dispose, sizeof dispose) != FALSE;
           });
}

bool MakeFolderStep(const std::wstring& path) {
    return TellStep(InstallStep::MakeFolder, path) && CreateDirectoryW(path.c_str(), nullptr);
}

void RemoveFolderStep(const std::wstring& path) {
    // A junction or a link put in the place of a folder we made is the
    // player's: RemoveDirectory would take the link itself away.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return;
    if (TellStep(InstallStep::RemoveFolder, path)) RemoveDirectoryW(path.c_str());
}

bool FlushFolderStep(const std::wstring& folder) {
    if (!TellStep(InstallStep::FlushFolder, folder)) return false;
    if (!DurableWrites()) return true;
    // Backup semantics open a folder; write access is what the flush asks for.
    // "X:" alone would open the volume, which needs an administrator: its root folder is "X:\".
    const std::wstring path = !folder.empty() && folder.back() == L':' ? folder + L"\\" : folder;
    ScopedFile handle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return handle && FlushFileBuffers(handle.get());
}
