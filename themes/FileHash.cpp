#include "themes/FileHash.h"

#include <windows.h>

#include <vector>

#include <zlib.h>

#include "runtime/ScopedHandle.h"

namespace {

constexpr DWORD kChunk = 1 << 16;

std::uint32_t Update(std::uint32_t crc, const std::uint8_t* data, std::uint64_t size) {
    // zlib's crc32 takes at most 4 GiB less one byte a call.
    while (size > 0) {
        const uInt n = uInt(size > 0x40000000u ? 0x40000000u : size);
        crc = std::uint32_t(crc32(crc, data, n));
        data += n;
        size -= n;
    }
    return crc;
}

bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

FileHash HashBytes(ByteSpan bytes) {
    FileHash h;
    h.crc = Update(std::uint32_t(crc32(0, nullptr, 0)), bytes.data, bytes.size);
    h.size = bytes.size;
    return h;
}

HashResult FileSize(const std::wstring& path, std::uint64_t* size) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return Missing(GetLastError()) ? HashResult::Missing : HashResult::Unreadable;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return HashResult::Missing;
    *size = (std::uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return HashResult::Hashed;
}

HashResult HashFile(const std::wstring& path, FileHash* hash) {
    // Shared every way: the game or a virus scanner may have it open. The
    // right to write attributes is only for the access time; a file that
    // refuses it is read without.
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file && GetLastError() == ERROR_ACCESS_DENIED)
        file.reset(CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                               nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        if (Missing(error)) return HashResult::Missing;
        // A folder cannot be opened this way; it is no file.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return HashResult::Missing;
        SetLastError(error);
        return HashResult::Unreadable;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool timesKnown = GetFileInformationByHandle(file.get(), &info);
    std::vector<std::uint8_t> buffer(kChunk);
    FileHash h;
    h.crc = std::uint32_t(crc32(0, nullptr, 0));
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.data(), kChunk, &got, nullptr)) return HashResult::Unreadable;
        if (got == 0) break;
        h.crc = Update(h.crc, buffer.data(), got);
        h.size += got;
    }
    // Reading moved the last-access time on (where the volume keeps it):
    // back to what it was. A handle without the right simply fails here.
    if (timesKnown) SetFileTime(file.get(), nullptr, &info.ftLastAccessTime, nullptr);
    *hash = h;
    return HashResult::Hashed;
}
