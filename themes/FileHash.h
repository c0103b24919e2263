// What a file holds, told in a few bytes: its CRC-32 (zlib's, the one ZIP
// members carry) and its size. Enough to tell whether a game file still
// holds what we wrote there, or what stood there before.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/Text.h"

struct FileHash {
    std::uint32_t crc = 0;
    std::uint64_t size = 0;
    bool operator==(const FileHash& o) const { return crc == o.crc && size == o.size; }
    bool operator!=(const FileHash& o) const { return !(*this == o); }
};

FileHash HashBytes(ByteSpan bytes);

enum class HashResult { Hashed, Missing, Unreadable };
// Reads the file (an extended path) whole. Its last-access time is put back
// afterwards: the player's originals keep every time they had. Missing also
// for a folder at that path.
HashResult HashFile(const std::wstring& path, FileHash* hash);
// The size alone, without reading: a file whose size differs holds
// something else. Missing when there is no file.
HashResult FileSize(const std::wstring& path, std::uint64_t* size);
