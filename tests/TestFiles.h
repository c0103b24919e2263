// Whole files read and written in one call, for the tests' own setup and checks.
#pragma once

#include <string>

// The file's bytes, or "<missing>" when it cannot be opened; a file the
// program still has open for writing (its tray log) is read all the same.
std::string ReadAll(const std::wstring& path);
// Writes the file anew with these bytes, whatever its attributes were.
bool WriteAll(const std::wstring& path, const std::string& data);
bool Exists(const std::wstring& path);
