#include "install/Volume.h"

#include <windows.h>

#include "runtime/ScopedHandle.h"

bool VolumeOf(const std::wstring& path, unsigned long* serial) {
    BY_HANDLE_FILE_INFORMATION info;
    ScopedFile file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file || !GetFileInformationByHandle(file.get(), &info)) return false;
    *serial = info.dwVolumeSerialNumber;
    return true;
}

bool SameVolume(const std::wstring& a, const std::wstring& b) {
    unsigned long va = 0, vb = 0;
    // Where it cannot be told, the renames will tell.
    return !VolumeOf(a, &va) || !VolumeOf(b, &vb) || va == vb;
}

std::wstring ParentFolder(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

bool RenamesLoggedInOrder(const std::wstring& folder) {
    wchar_t name[MAX_PATH + 1] = L"";
    const DWORD told = GetEnvironmentVariableW(L"VELMORA_TEST_FILE_SYSTEM", name, MAX_PATH);
    if (told == 0 || told >= MAX_PATH) {
        // Asked through a handle of the folder itself: it answers for a
        // folder mounted from another volume too, and reads nothing else of
        // the volume (a drive's root can refuse a plain user that).
        ScopedFile handle(CreateFileW(folder.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!handle || !GetVolumeInformationByHandleW(handle.get(), nullptr, 0, nullptr, nullptr, nullptr, name, MAX_PATH))
            return false;
    }
    return lstrcmpiW(name, L"NTFS") == 0 || lstrcmpiW(name, L"ReFS") == 0;
}
