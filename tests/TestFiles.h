// Whole files read and written in one call, for the tests' own setup and checks.
#pragma once

#include <string>

// The file's bytes, or "<missing>" when it cannot be opened (the program may
// hold it open for writing meanwhile: that is shared).
std::string ReadAll(const std::wstring& path);
// Writes the file anew with these bytes, whatever its attributes were.
bool WriteAll(const std::wstring& path, const std::string& data);
bool Exists(const std::wstring& path);
