#include "install/FileHash.h"

#include <windows.h>

#include <vector>

#include <zlib.h>


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

FileReader::FileReader(const std::wstring& path, bool keepAccessTime) : path_(path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (keepAccessTime && GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        timesKnown_ = true;
        accessed_ = data.ftLastAccessTime;
    }
    file_.reset(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

FileReader::~FileReader() {
    const DWORD error = GetLastError();  // what a failed read said stays for the caller
    file_.reset();
    WIN32_FILE_ATTRIBUTE_DATA data;
    // Reading moved the last-access time on (where the volume keeps it):
    // back to what it was, through a handle that may only do that. Only
    // where it moved: the extra open is what costs.
    if (timesKnown_ && GetFileAttributesExW(path_.c_str(), GetFileExInfoStandard, &data) &&
        CompareFileTime(&data.ftLastAccessTime, &accessed_) != 0) {
        ScopedFile times(CreateFileW(path_.c_str(), FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
        if (times) SetFileTime(times.get(), nullptr, &accessed_, nullptr);
    }
    SetLastError(error);
}

namespace {

HashResult Hash(const std::wstring& path, FileHash* hash, bool keepAccessTime) {
    FileReader file(path, keepAccessTime);
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (Missing(error)) return HashResult::Missing;
        // A folder cannot be opened this way; it is no file.
        const DWORD attributes = GetFileAttributesW(path.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return HashResult::Missing;
        SetLastError(error);
        return HashResult::Unreadable;
    }
    std::vector<std::uint8_t> buffer(kChunk);
    FileHash h;
    h.crc = std::uint32_t(crc32(0, nullptr, 0));
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size)) size.QuadPart = -1;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer.data(), kChunk, &got, nullptr)) return HashResult::Unreadable;
        h.crc = Update(h.crc, buffer.data(), got);
        h.size += got;
        // A short read that reached the size the file has is its end: one
        // call less for each small file (under Wine each one costs). A short
        // read before it (a network share may answer so) is not.
        if (got == 0 || (got < kChunk && h.size == std::uint64_t(size.QuadPart))) break;
    }
    *hash = h;
    return HashResult::Hashed;
}

}  // namespace

HashResult HashFile(const std::wstring& path, FileHash* hash) { return Hash(path, hash, false); }

HashResult HashOriginal(const std::wstring& path, FileHash* hash) { return Hash(path, hash, true); }

bool SameBytes(const std::wstring& a, const std::wstring& b) {
    FileReader fa(a, true), fb(b, true);
    if (fa.get() == INVALID_HANDLE_VALUE || fb.get() == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER sa, sb;
    if (!GetFileSizeEx(fa.get(), &sa) || !GetFileSizeEx(fb.get(), &sb) || sa.QuadPart != sb.QuadPart) return false;
    constexpr DWORD kChunk = 1u << 16;
    std::string ba(kChunk, '\0'), bb(kChunk, '\0');
    for (;;) {
        DWORD ga = 0, gb = 0;
        if (!ReadFile(fa.get(), ba.data(), kChunk, &ga, nullptr) || !ReadFile(fb.get(), bb.data(), kChunk, &gb, nullptr) ||
            ga != gb)
            return false;
        if (ga == 0) return true;
        if (ba.compare(0, ga, bb, 0, gb) != 0) return false;
    }
}
