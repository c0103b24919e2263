// Puts one catalogue entry into a game's Game folder and tells the player
// how it went. The window hands over what it needs: the target as its path
// box shows it, and its ZIP component.
#pragma once

#include <string>

#include "runtime/Text.h"
#include "install/InstallFailure.h"
#include "themes/ArchiveExtract.h"
#include "themes/Catalogue.h"

// `target` is "<game folder>\Game" (GBK); anything else is refused with
// "请选择正确地址！" and nothing is written.
void InstallThemePack(const ThemePack& pack, const Text& target, ZipComponent* zip);
// At start-up: rolls back an install (or finishes an undo) into the
// remembered target that a crash cut short, and removes its leftovers.
// Cheap when there is none.
void RecoverLastInstall(const Text& target);
// After the start-up notice: tells the player, once, what RecoverLastInstall
// could not finish (a game file held, a folder it may not write) and what to do.
void ReportUnfinishedRecovery();
// The start-up recovery of `game` (an extended path), holding its lock.
// False with the failure while something waits. Where the lock cannot be
// made (a folder the player may not write) and nothing waits: true, as
// there is nothing to tell.
bool RecoverAtStart(const std::wstring& game, InstallFailure* failure);
// The box ReportUnfinishedRecovery shows for such a failure; empty for none.
Text RecoveryText(const InstallFailure& f, int* flags);

// The Game folder of a target as an extended path; empty unless the target
// is an absolute folder path ending in "\Game" (an empty path file gives
// "\Game", the root of the drive, which is no place to install into).
std::wstring GameFolderOf(const Text& target);
