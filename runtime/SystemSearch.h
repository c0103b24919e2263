// Cheap looks at the system for where a program is installed: the running
// processes, the registry's uninstall entries, the fixed drives. Paths are
// GBK texts; nothing here walks a disk.
#pragma once

#include <string>
#include <vector>

#include "runtime/Text.h"

// The full paths of the running programs whose file name is one of these
// (compared without regard to case); those we may not query are left out.
std::vector<Text> RunningProgramPaths(const std::vector<std::wstring>& fileNames);

struct UninstallEntry {
    Text displayName, installLocation, uninstallString;
};
// The entries under ...\CurrentVersion\Uninstall of the machine, in both
// registry views (64-bit and 32-bit programs), and of the user.
std::vector<UninstallEntry> UninstallEntries();

// "C:", "D:", ...: the drives of fixed disks.
std::vector<Text> FixedDrives();
bool FolderExists(const Text& path);
