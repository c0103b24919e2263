#include "install/DurableMove.h"

#include <windows.h>

#include <vector>

#include "runtime/ScopedHandle.h"
#include "install/FileHash.h"
#include "install/InstallSteps.h"
#include "install/SwapNames.h"
#include "install/Volume.h"

namespace {

// Writes the copy and puts it on disk, with the source's times; the
// attributes are given once it is closed (read-only would stop the flush).
unsigned long WriteCopy(const std::wstring& from, const std::wstring& copy, DWORD* attributes) {
    FileReader source(from, true);
    FILE_BASIC_INFO basic;
    if (source.get() == INVALID_HANDLE_VALUE ||
        !GetFileInformationByHandleEx(source.get(), FileBasicInfo, &basic, sizeof basic))
        return GetLastError();
    // Reading moves the source's last-access time on. It is put back before
    // each step, not only at the end: a crash in between would leave it
    // moved, and the copy made again after it would carry the moved time.
    ScopedFile times(CreateFileW(from.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
    FILETIME accessed;
    accessed.dwLowDateTime = DWORD(basic.LastAccessTime.QuadPart);
    accessed.dwHighDateTime = DWORD(basic.LastAccessTime.QuadPart >> 32);
    const auto keepAccessTime = [&] {
        if (times) SetFileTime(times.get(), nullptr, &accessed, nullptr);
    };
    ScopedFile out(CreateFileStep(copy, CREATE_NEW));
    if (!out) return GetLastError();
    std::vector<char> buffer(1 << 20);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(source.get(), buffer.data(), DWORD(buffer.size()), &got, nullptr)) return GetLastError();
        if (got == 0) break;
        keepAccessTime();
        if (!WriteStep(InstallStep::Write, out.get(), buffer.data(), got, copy)) return GetLastError();
    }
    keepAccessTime();
    *attributes = basic.FileAttributes;
    basic.FileAttributes = 0;  // left as they are for now
    if (!SetFileInformationByHandle(out.get(), FileBasicInfo, &basic, sizeof basic)) return GetLastError();
    if (!TellStep(InstallStep::Flush, copy) || (DurableWrites() && !FlushFileBuffers(out.get()))) return GetLastError();
    return 0;
}

}  // namespace

unsigned long CopyDurably(const std::wstring& from, const std::wstring& to, bool over) {
    const std::wstring copy = CopyPath(to);
    // A copy cut short earlier: its source still stands.
    if (!DeleteStep(copy)) return GetLastError();
    DWORD attributes = 0;
    if (const unsigned long error = WriteCopy(from, copy, &attributes)) {
        DeleteStep(copy);
        return error;
    }
    const DWORD kept = attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                     FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (kept && !SetFileAttributesW(copy.c_str(), kept)) return GetLastError();
    const bool stands = GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!(over && stands ? ReplaceStep(copy, to) : RenameStep(copy, to))) {
        const DWORD error = GetLastError();
        DeleteStep(copy);
        return error;
    }
    return FlushFolderStep(ParentFolder(to)) ? 0 : GetLastError();
}

unsigned long MoveDurably(const std::wstring& from, const std::wstring& to) {
    if (const unsigned long error = CopyDurably(from, to, true)) return error;
    return DeleteStep(from) ? 0 : GetLastError();
}
