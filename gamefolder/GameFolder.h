// The game's install folder: the acceptance rule, the path file that
// remembers it, and FolderCheck, which tells the installers it is known.
#pragma once

#include "runtime/Text.h"

extern const Text kGameFolderWord;  // "英雄联盟"

// Empty until a path containing "英雄联盟" has been accepted, then "英雄联盟".
const Text& FolderCheck();
// The accepted folder, remembered in the program's folder.
Text PathFilePath();

// At start-up: fills 编辑框1 and FolderCheck from an acceptable path file.
void LoadGameFolder();
// 按钮1: the user picks the folder.
void BrowseGameFolder();

// Where "英雄联盟" starts in the path (on a character boundary), or -1.
int FindGameFolderWord(const Text& path);
