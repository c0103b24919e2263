// What the tray menu tells of a Game folder, read cheaply enough to build
// the menu each time it opens.
#pragma once

#include <string>
#include <vector>

#include "runtime/Text.h"
#include "install/BackupStore.h"
#include "install/KeepOrDelete.h"

// What the tray menu tells: the entry installed last, how many of the files
// we installed the undo will leave because the game patched them, and which
// of those have an original that they supersede (the undo's question names
// their number).
struct InstalledState {
    RecordRead record = RecordRead::None;
    int entry = 0;
    Text word;
    int changed = 0;
    // How many of the recorded files hold what we wrote: none after an undo
    // that kept originals the game's files supersede.
    int ours = 0;
    std::vector<std::wstring> superseded;
    // A journal stands: an install or undo did not finish (a file held after
    // its DONE, a crash), so the record may not yet say what is on disk. The
    // next start, install or undo finishes it.
    bool unfinished = false;
};
// Reads the record, lists each folder it names once, and hashes only the
// files it must: one whose size is neither the written one nor its
// original's holds something else. A file that cannot be read counts
// as unchanged. A hash taken of a file earlier in this process (here or
// ahead, below) counts while the listing still shows that file with the
// size and last-write time it had then; any other file is read again.
InstalledState ReadInstalledState(const std::wstring& game);
// The same reading on a worker, so that the menu opened right after finds
// the hashes it needs already taken (a file the game wrote since is still
// read again then). Nothing when a worker is reading already.
void ReadInstalledStateAhead(const std::wstring& game);
// Lets go of every hash the menu remembers. Called when this process has
// changed Game: our packs give every file one fixed time, so a theme's file
// can have the size and time of the one it replaced.
void ForgetInstalledReadings();
