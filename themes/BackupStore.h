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

#include "runtime/Text.h"
#include "themes/BackupRecord.h"

extern const wchar_t kStoreName[];  // L"Velmora备份"

// The store beside a Game folder (both extended paths).
std::wstring StoreFolder(const std::wstring& game);
std::wstring RecordPath(const std::wstring& store);
std::wstring OriginalsFolder(const std::wstring& store);
std::wstring OriginalPath(const std::wstring& store, const std::wstring& relative);

enum class RecordRead { None, Read, Unreadable };
// None: no record, so nothing of ours is installed (and the store, if any, holds nothing).
RecordRead ReadRecord(const std::wstring& store, BackupRecord* record);

// What the tray menu tells: the entry installed last, and how many of the
// files we installed no longer hold what we wrote (the game patched them).
struct InstalledState {
    RecordRead record = RecordRead::None;
    int entry = 0;
    Text word;
    int changed = 0;
};
// Reads the record and hashes the files it names (a file whose size
// differs is not read). A file that cannot be read counts as unchanged.
InstalledState ReadInstalledState(const std::wstring& game);
