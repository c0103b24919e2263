// Which of the player's originals a swap keeps in the backup store and
// which may go: decided from the files themselves, at the moment they are
// set aside or checked, never from an earlier look (the game may patch a
// file at any time). Both the tray menu and the undo classify what stands
// in Game the same way here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/Text.h"
#include "install/BackupRecord.h"
#include "install/FileHash.h"
#include "install/InstallFailure.h"

// One file of an install's swap, as the store needs to know it.
struct SwappedFile {
    std::wstring relative;
    bool replaces = false;  // a file stood there and is set aside
    FileHash installed;
    std::uint64_t written = 0;  // the last-write time it goes in with
};
// An original that an install keeps: the set-aside file of `relative`,
// kept in the store under `kept` (its own letter case).
struct KeptOriginal {
    std::wstring relative, kept;
};

// After an install's swap, before its DONE: the record after it, and the
// originals it keeps, decided from the set-aside files themselves. What it replaces is kept where no earlier install
// wrote, and also where what stands is no longer what we wrote there (the
// game patched it since: that is now the newest original, and the older one
// kept for that place gives way to it). False, with the failure, when the
// record cannot be trusted, the store would lie on another volume, or a
// file to keep cannot be read; the swap is rolled back then.

bool PlanRecord(const std::wstring& game, const std::vector<SwappedFile>& files,
                const std::vector<std::wstring>& madeFolders, int entry, const Text& word, BackupRecord* next,
                std::vector<KeptOriginal>* kept, InstallFailure* failure);

// What stands at a place the record names, against the record: the one
// answer both the tray menu and the undo act on.
enum class RecordedNow {
    Ours,        // what we wrote: the undo puts the original back, or removes it
    Vanished,    // nothing, where an original is kept: the undo puts it back
    AsBefore,    // nothing where none stood, or the original's own bytes: nothing to do
    Superseded,  // the game's since, where an original is kept: left, the original superseded
    Patched,     // the game's since, where none stood: left
};
// `now` is what stands there, or nothing.
RecordedNow Classify(const RecordedFile& f, const FileHash* now);
// Whether the undo leaves the game's file as it is (the menu counts these).
inline bool LeftByUndo(RecordedNow n) { return n == RecordedNow::Superseded || n == RecordedNow::Patched; }

// After an undo's DONE: the original kept for `relative` goes only while its
// bytes still stand at Game\<relative> (see the .cpp). 0, or the Win32 error.
unsigned long DropIfStandsAgain(const std::wstring& game, const std::wstring& store, const std::wstring& relative);
