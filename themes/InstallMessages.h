// The boxes that tell the player how an install or an undo went wrong.
#pragma once

#include <string>

#include "runtime/Text.h"
#include "install/InstallFailure.h"

extern const char kInstallTitle[];  // "温馨提示°"

// A place a failure names, as the player finds it: under "Game\" (the pack
// archive when empty), or in the backup store beside it.
Text GamePath(const std::wstring& relative);
// That another Velmora instance is changing the game folder just now.
Text BusyText();
// The game file still waiting for its original, why, and what the player
// does so that the next start or install puts it back.
Text Unrestored(const InstallFailure& f);
// A file that work left waits on, why, and what the player does so that a
// later start or install finishes it.
Text LeftToFinish(unsigned long error, const std::wstring& relative);
// After a change that is in place: the step after it that waits (the
// failure's unfinishedPath), why, and what the player does so that the next
// start or install finishes it. Follows "修改已生效，" or "撤销已生效，…".
Text UnfinishedText(const InstallFailure& f);

enum class FailedAction { Install, Undo };
// The box's text and flags for a failure: what blocked, where, and what the
// player can do about it; then either that nothing changed, or which
// original could not be put back yet.
Text FailureText(const InstallFailure& f, FailedAction action, int* flags);
// What blocked, where, and what the player can do about it; then either
// that nothing changed, or which original could not be put back yet.
void ShowInstallFailure(const InstallFailure& f, FailedAction action = FailedAction::Install);
