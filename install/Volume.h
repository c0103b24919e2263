// What the volumes under a Game folder are: which one a folder lies on, and
// whether its file system keeps the order of the changes made to it.
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

// Whether the file system under `folder` (an existing extended path) logs
// its renames, deletions and new names and brings them to disk in the order
// they were made: NTFS and ReFS do. FAT, FAT32 and exFAT (USB disks, some
// game drives) write each folder's entries back from the cache whenever,
// and carry out a rename into another folder as two writes in two folders;
// so does anything that cannot be told. VELMORA_TEST_FILE_SYSTEM, when set,
// stands for the file system's name (Wine calls every drive NTFS).
bool RenamesLoggedInOrder(const std::wstring& folder);
