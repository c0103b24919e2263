// Puts one catalogue entry into a game's Game folder and tells the player
// how it went. The window hands over what it needs: the target as its path
// box shows it, and its ZIP component.
#pragma once

#include <string>

#include "runtime/Text.h"
#include "themes/ArchiveExtract.h"
#include "themes/Catalogue.h"

// `target` is "<game folder>\Game" (GBK); anything else is refused with
// "请选择正确地址！" and nothing is written.
void InstallThemePack(const ThemePack& pack, const Text& target, ZipComponent* zip);
// At start-up: rolls back an install (or finishes an undo) into the
// remembered target that a crash cut short, and removes its leftovers.
// Cheap when there is none.
void RecoverLastInstall(const Text& target);
// After the start-up notice: tells the player, once, which game file
// RecoverLastInstall could not put back yet (a file the game holds).
void ReportUnfinishedRecovery();

// The Game folder of a target as an extended path; empty unless the target
// is an absolute folder path ending in "\Game" (an empty path file gives
// "\Game", the root of the drive, which is no place to install into).
std::wstring GameFolderOf(const Text& target);
