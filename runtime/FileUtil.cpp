#include "runtime/FileUtil.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>

#include "runtime/Encoding.h"
#include "runtime/ScopedHandle.h"

Text ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
        if (n == 0) return Text();
        // A full buffer means the name may have been cut: try again with more room.
        if (n < path.size()) { path.resize(n); break; }
        path.resize(path.size() * 2);
    }
    const auto slash = path.find_last_of(L'\\');
    if (slash != std::wstring::npos) path.resize(slash);
    return WideToGbk(path);
}

bool FileExists(const Text& path) {
    if (TextLength(path) == 0) return false;
    WIN32_FIND_DATAW data;
    ScopedFind find(FindFirstFileW(GbkToWide(path).c_str(), &data));
    return find.valid();
}

Bytes ReadFileBytes(const Text& path) {
    if (TextLength(path) == 0) return Bytes();
    ScopedFile file(CreateFileW(GbkToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return Bytes();
    LARGE_INTEGER size;
    // Checked before anything is allocated: no size a file claims ends the program.
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || std::uint64_t(size.QuadPart) > kMaxReadFileBytes)
        return Bytes();
    Bytes out(static_cast<std::size_t>(size.QuadPart));
    DWORD got = 0;
    if (!ReadFile(file.get(), out.data(), DWORD(out.size()), &got, nullptr)) got = 0;
    out.resize(got);
    return out;
}

bool WriteFileBytes(const Text& path, std::initializer_list<ByteSpan> parts) {
    if (TextLength(path) == 0) return false;
    ScopedFile file(CreateFileW(GbkToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    for (const ByteSpan& part : parts) {
        std::size_t done = 0;
        while (done < part.size) {
            const DWORD chunk = DWORD(std::min<std::size_t>(part.size - done, 1u << 30));
            DWORD wrote = 0;
            if (!WriteFile(file.get(), part.data + done, chunk, &wrote, nullptr)) return false;
            if (wrote == 0) {
                SetLastError(ERROR_DISK_FULL);  // nothing written and no error: no room
                return false;
            }
            done += wrote;
        }
    }
    return CloseHandle(file.release()) != 0;
}

bool ClearFileAttributes(const Text& path) {
    if (TextLength(path) == 0) return false;
    return SetFileAttributesW(GbkToWide(path).c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool DeleteFilePath(const Text& path) {
    if (TextLength(path) == 0) return false;
    return DeleteFileW(GbkToWide(path).c_str()) != 0;
}
