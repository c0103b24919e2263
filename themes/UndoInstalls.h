// Taking back what our installs changed in a game's Game folder, and
// telling what is installed there: the features behind the tray menu's
// 当前界面 and 撤销修改 items.
#pragma once

#include <string>
#include <vector>

#include "runtime/Text.h"
#include "install/BackupStore.h"
#include "install/InstalledState.h"
#include "install/InstallFailure.h"

// How an undo went: nothing was installed, or which files it left as they
// are because they no longer hold what we wrote (the game patched them),
// and whose originals the store still keeps (not put back, not discarded).
// `unfinished.unfinishedPath` is set when the undo is in place but work
// after it waits (see InstallFailure).
struct UndoOutcome {
    bool nothingInstalled = false;
    std::vector<std::wstring> left, kept;
    InstallFailure unfinished;
};

// Puts back exactly what stood in `game` (an extended path) before our
// first install there: each file we added goes, each one we replaced gets
// its original back (bytes, times and attributes: it is moved back, as it
// was moved away), the folders we made go when empty, and then the store.
// A file nothing stands in now gets its original back too. A file the game
// patched since stays as the game left it; its original (superseded) is
// deleted with the store only where `discard` names it, as the question
// the player said yes to told; otherwise the store keeps it, under a
// record that names what it still keeps.
// All or nothing, through the install's swap, journal and recovery. False
// with the failure when nothing could be done (nothing changed then, or a
// roll-back waits for a held file: see InstallFailure::unrestoredPath).
bool UndoInstalls(const std::wstring& game, const std::vector<std::wstring>& discard, UndoOutcome* outcome,
                  InstallFailure* failure);

// The tray menu's 撤销修改, for the install target "<game folder>\Game"
// (GBK) once the player said yes to a question that named `discard`'s
// number: the undo, then the box that tells how it went.
void UndoThemeInstalls(const Text& target, const std::vector<std::wstring>& discard);

// What the tray menu tells about the target; nothing installed when it is no Game folder.
InstalledState InstalledIn(const Text& target);
// The tray menu's 当前界面 line for that state.
Text InstalledCaption(const InstalledState& state);
// The box after an undo of `game` (an extended path) that did its work:
// what was put back, what was left, and where kept originals wait.
Text UndoDoneText(const UndoOutcome& outcome, const std::wstring& game);
// The same read on a worker, ahead of the menu (see ReadInstalledStateAhead).
void ReadInstalledAhead(const Text& target);
