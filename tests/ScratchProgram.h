// A copy of the program in a scratch folder of its own, so that its path
// file never meets another suite's; the player's game folder goes beside it.
#pragma once

#include <windows.h>

#include <string>

#include "GuiDriver.h"

extern const std::wstring kWindowTitle;

struct ScratchProgram {
    std::wstring folder;      // VELMORA_SCRATCH\name
    std::wstring exe;         // folder\Velmora.exe
    std::wstring gameFolder;  // folder\Games\英雄联盟, for the suite to make
    std::wstring PathFile() const { return folder + L"\\游戏地址.txt"; }
};

// Empties VELMORA_SCRATCH\name of what a last run left (read-only and hidden
// files too), then copies VELMORA_EXE into it and makes its Games folder.
ScratchProgram MakeScratchProgram(const std::wstring& name);
// The program remembers the game folder, as after a pick in its browser.
bool RememberGameFolder(const ScratchProgram& copy);

// Starts exe, presses OK in its start-up notice and waits for the main
// window to settle; null when either did not come.
HWND StartPastNotice(const std::wstring& exe, gui::Program* program);
