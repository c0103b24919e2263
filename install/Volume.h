// What the volumes under a Game folder are: which one a folder lies on.
#pragma once

#include <string>

// Whether two existing paths lie on one volume (a folder may be mounted from
// another, or be a junction onto one). True where it cannot be told: the
// renames will tell.
bool SameVolume(const std::wstring& a, const std::wstring& b);
// The serial number of the volume an existing path lies on; false where it
// cannot be told. Each look costs: under Wine a round trip to the mount
// manager, so a folder compared with many is looked at once.
bool VolumeOf(const std::wstring& path, unsigned long* serial);
// The folder a path lies in (the path itself when it has no backslash).
std::wstring ParentFolder(const std::wstring& path);
