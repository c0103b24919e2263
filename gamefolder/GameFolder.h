// The game's install folder: the acceptance rule, the path file that
// remembers it, and FolderCheck, which tells the installers it is known.
#pragma once

#include "runtime/Text.h"
#include "runtime/Window.h"

extern const Text kGameFolderWord;  // "英雄联盟"

// Empty until a path containing "英雄联盟" has been accepted, then "英雄联盟".
const Text& FolderCheck();
// The accepted folder, remembered in the program's folder.
Text PathFilePath();

// Where the window shows the folder: its path box (编辑框1) and the button
// that picks the folder (按钮1), by their layout names.
struct GameFolderControls {
    WindowRef window;
    const char* pathBox;
    const char* browseButton;
};

// At start-up: fills the path box and FolderCheck from an acceptable path file.
void LoadGameFolder(const GameFolderControls& controls);
// The browse button: the user picks the folder.
void BrowseGameFolder(const GameFolderControls& controls);

// Where "英雄联盟" starts in the path (on a character boundary), or -1.
int FindGameFolderWord(const Text& path);
