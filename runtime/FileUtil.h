// Files by GBK path. Every path goes through the wide file functions.
#pragma once

#include <initializer_list>

#include "runtime/Text.h"

// The executable's folder without a trailing backslash, such as C:\Tools.
Text ProgramFolder();
// A file or folder matches the path (wildcards are honoured).
bool FileExists(const Text& path);
// The largest file ReadFileBytes reads: its callers read a path file (a
// folder path) and our own small DLLs, and a 32-bit process cannot hold
// whatever a damaged or hostile file may claim.
constexpr std::size_t kMaxReadFileBytes = 16u << 20;

// The whole file; the empty byte set when it is missing, empty, larger than
// kMaxReadFileBytes or cannot be opened.
Bytes ReadFileBytes(const Text& path);
// Creates or truncates the file and writes the parts one after the other.
bool WriteFileBytes(const Text& path, std::initializer_list<ByteSpan> parts);
// Lifts read-only, hidden and system flags; false when the path is missing.
bool ClearFileAttributes(const Text& path);
// Deletes a file, never a folder.
bool DeleteFilePath(const Text& path);
