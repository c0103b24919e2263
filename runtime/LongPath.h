// Paths that may run past MAX_PATH: a game folder deep in a user's tree plus a
// pack's nested member names easily does.
#pragma once

#include <string>

// The absolute, normalised form of a path in the "\\?\" (or "\\?\UNC\") form,
// which the wide file functions take up to 32,767 characters long and never
// re-interpret. No trailing separator except after a drive root. Empty when
// the path cannot be made absolute.
std::wstring ExtendedPath(const std::wstring& path);
// A path without its "\\?\" prefix, for showing it to a person.
std::wstring PlainPath(const std::wstring& extended);
