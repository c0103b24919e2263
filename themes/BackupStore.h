// The backup store of one game folder: the player's own files that our
// installs replaced, and the record of what we installed (BackupRecord.h).
//
// It lies beside the Game folder, so on the same volume (the originals are
// moved in and out by renaming, bytes, times and attributes and all) but
// never inside it, where the game's repair tool could take unknown files
// for damage; its name says whose it is:
//   <game folder>\Velmora备份\record.txt
//   <game folder>\Velmora备份\originals\<path under Game>
// It is changed only inside an install's or an undo's all-or-nothing swap.
#pragma once

#include <string>
#include <vector>

#include "runtime/ScopedHandle.h"
#include "runtime/Text.h"
#include "themes/BackupRecord.h"
#include "themes/InstallFailure.h"

extern const wchar_t kStoreName[];  // L"Velmora备份"

// The store beside a Game folder (both extended paths).
std::wstring StoreFolder(const std::wstring& game);
std::wstring RecordPath(const std::wstring& store);
std::wstring OriginalsFolder(const std::wstring& store);
std::wstring OriginalPath(const std::wstring& store, const std::wstring& relative);

enum class RecordRead { None, Read, Unreadable };
// None: no record, so nothing of ours is installed (and the store, if any, holds nothing).
RecordRead ReadRecord(const std::wstring& store, BackupRecord* record);

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

// Before an install's journal names its swap: the record after it, and the
// originals it keeps. What it replaces is kept where no earlier install
// wrote, and also where what stands is no longer what we wrote there (the
// game patched it since: that is now the newest original, and the older one
// kept for that place gives way to it). False, with the failure, when the
// record cannot be trusted, the store would lie on another volume, or a
// file to keep cannot be read; nothing has changed then.
bool PlanRecord(const std::wstring& game, const std::vector<SwappedFile>& files,
                const std::vector<std::wstring>& madeFolders, int entry, const Text& word, BackupRecord* next,
                std::vector<KeptOriginal>* kept, InstallFailure* failure);
// The store as a failure names it, relative to the Game folder.
std::wstring StoreRelative(const std::wstring& name = std::wstring());

// ---- The store's part in an install's or an undo's swap (InstallSwap.h).
// Each is a step the journal names and each can be run again from wherever
// a crash left it. 0, or the Win32 error that stopped it.

// Before DONE: the record to be, written beside the store's as
// "record.txt.velmora-new" (the store's folder exists). Its bytes are not
// yet on disk: `written` is handed to the swap's flushes, which are all
// done before DONE.
unsigned long StageRecord(const std::wstring& store, const BackupRecord& record, ScopedFile* written);
// The staged record's path.
std::wstring StagedRecordPath(const std::wstring& store);
// Rolled back: the staged record goes.
unsigned long DropStagedRecord(const std::wstring& store);
// After DONE: the set-aside original of `relative` (Game\<relative>.velmora-old)
// moves into the store as `kept` (the same path with the original's own
// letter case), in place of an older original kept for that path. Done
// once the set-aside original is gone.
unsigned long KeepOriginal(const std::wstring& game, const std::wstring& relative, const std::wstring& kept);
// After DONE: the staged record takes the place of the store's, in one rename.
unsigned long ReplaceRecord(const std::wstring& store);
// After an undo's DONE: the record and every original still kept go, then
// the store's folders (a folder that holds anything else stays).
unsigned long RemoveStore(const std::wstring& store);

// What the tray menu tells: the entry installed last, and how many of the
// files we installed no longer hold what we wrote (the game patched them).
struct InstalledState {
    RecordRead record = RecordRead::None;
    int entry = 0;
    Text word;
    int changed = 0;
};
// Reads the record, lists each folder it names once, and hashes only the
// files whose size is as written but whose last-write time is not: one
// with another size holds something else, one with both as written holds
// what was written. A file that cannot be read counts as unchanged.
InstalledState ReadInstalledState(const std::wstring& game);
