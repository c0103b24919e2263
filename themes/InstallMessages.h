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
// The game file still waiting for its original, why, and that it will be done.
Text Unrestored(const InstallFailure& f);

enum class FailedAction { Install, Undo };
// What blocked, where, and what the player can do about it; then either
// that nothing changed, or which original could not be put back yet.
void ShowInstallFailure(const InstallFailure& f, FailedAction action = FailedAction::Install);
