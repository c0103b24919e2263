// What a file holds, told in a few bytes: its CRC-32 (zlib's, the one ZIP
// members carry) and its size. Enough to tell whether a game file still
// holds what we wrote there, or what stood there before.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "runtime/Text.h"
#include "runtime/ScopedHandle.h"

struct FileHash {
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    bool operator==(const FileHash& o) const { return crc == o.crc && size == o.size; }
    bool operator!=(const FileHash& o) const { return !(*this == o); }
};

FileHash HashBytes(ByteSpan bytes);

enum class HashResult { Hashed, Missing, Unreadable };
// Reads the file (an extended path) whole, shared every way (the game or a
// virus scanner may have it open). Missing also for a folder at that path.
HashResult HashFile(const std::wstring& path, FileHash* hash);
// The same for a file that may be the player's: its last-access time, which
// reading may move on, is put back, so that an original keeps every time it had.
HashResult HashOriginal(const std::wstring& path, FileHash* hash);

// Whether two files hold the same bytes, both read as originals are (their
// access times kept). False also when either cannot be read: a CRC-32 that
// matches is no proof before the only other copy of a file is deleted.
bool SameBytes(const std::wstring& a, const std::wstring& b);

// Opens a file to read it, shared every way; with `keepAccessTime`, the
// last-access time it had is put back when the object goes.
class FileReader {
public:
    FileReader(const std::wstring& path, bool keepAccessTime);
    ~FileReader();
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    HANDLE get() const { return file_.get(); }

private:
    std::wstring path_;
    ScopedFile file_;
    bool timesKnown_ = false;
    FILETIME accessed_ = {};
};
