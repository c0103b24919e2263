// The record of the backup store: what Velmora installed into one game
// folder, and what stood at each of those places before its first install.
//
// A small UTF-8 text, one line each, a space between fields:
//   VELMORA-RECORD 1
//   last <entry number> <UTC time, 2024-05-01T12:34:56Z> <entry word>
//   folder <folder under Game that an install made>     (parents first)
//   file <original> <installed> <written> <path under Game>
// where <original> is "-" when no file stood there, both hashes are written
// "<crc32, 8 hex digits>:<size in bytes>", and <written> is the last-write
// time the installed file was given (a FILETIME, 16 hex digits; "-" when
// unknown). The pack archive wzCAFG.ZIP is a file like any other.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/Text.h"
#include "install/FileHash.h"

struct RecordedFile {
    std::wstring relative;              // under Game, "\"-separated
    std::optional<FileHash> original;   // nothing: no file stood there
    FileHash installed;                 // what the last install that wrote it wrote
    std::uint64_t written = 0;          // the last-write time it was given; 0: unknown
};

struct BackupRecord {
    int entry = 0;      // catalogue number of the last install
    Text word;          // its word, as the check box names it (GBK)
    std::string time;   // of the last install
    std::vector<std::wstring> folders;
    std::vector<RecordedFile> files;
};

std::string FormatRecord(const BackupRecord& record);
// False for anything but a whole record of this version with safe paths:
// a record that cannot be trusted is never acted on.
bool ParseRecord(const std::string& text, BackupRecord* record);

// The entry for a path, its letter case ignored as Windows does; nullptr when none.
RecordedFile* FindRecorded(BackupRecord& record, const std::wstring& relative);
const RecordedFile* FindRecorded(const BackupRecord& record, const std::wstring& relative);
bool HasFolder(const BackupRecord& record, const std::wstring& relative);

// The present time as the record writes it.
std::string RecordTimeNow();
