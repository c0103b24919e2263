// The backup store of one game folder: the player's own files that our
// installs replaced, and the record of what we installed (BackupRecord.h).
//
// It lies beside the Game folder, so on the same volume (the originals are
// moved in and out by renaming, bytes, times and attributes and all; on FAT
// and exFAT copied with all of them, see DurableMove.h) but never inside
// it, where the game's repair tool could take unknown files for damage;
// its name says whose it is:
//   <game folder>\Velmora备份\record.txt
//   <game folder>\Velmora备份\originals\<path under Game>
// It is changed only inside an install's or an undo's all-or-nothing swap.
#pragma once

#include <string>
#include <vector>

#include "runtime/ScopedHandle.h"
#include "runtime/Text.h"
#include "install/BackupRecord.h"
#include "install/InstallFailure.h"

extern const wchar_t kStoreName[];  // L"Velmora备份"

// The store beside a Game folder (both extended paths).
std::wstring StoreFolder(const std::wstring& game);
std::wstring RecordPath(const std::wstring& store);
std::wstring OriginalsFolder(const std::wstring& store);
std::wstring OriginalPath(const std::wstring& store, const std::wstring& relative);

enum class RecordRead { None, Read, Unreadable };
// None: no record, so nothing of ours is installed (and the store, if any, holds nothing).
// Where record.txt is missing but "record.txt.velmora-old" stands, that is
// the record (a replacement cut short, see ReplaceRecord).
RecordRead ReadRecord(const std::wstring& store, BackupRecord* record);


// Whether `folder` is on the volume of the store's (Game's parent): the
// originals move in and out of the store only by renaming. True where it
// cannot be told (the renames will tell).
bool OnStoreVolume(const std::wstring& game, const std::wstring& folder);

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
// Where renames keep no order (`ordered` false, see Volume.h) it is copied
// and the set-aside file deleted after (DurableMove.h).
unsigned long KeepOriginal(const std::wstring& game, const std::wstring& relative, const std::wstring& kept,
                           bool ordered);
// After DONE: the staged record takes the place of the store's, in one
// rename; where renames keep no order, in three (see the .cpp), so that
// one whole record always stands.
unsigned long ReplaceRecord(const std::wstring& store, bool ordered);
// After an undo's DONE: the original kept for `relative` goes, one whose
// bytes stand again in Game, or that the undo's question said would not be
// kept. No other original is ever deleted.
unsigned long DropOriginal(const std::wstring& store, const std::wstring& relative);
// After an undo's DONE, once the originals it named are moved back or
// dropped: the record goes, then the store's folders that are empty. A file
// the record did not name stays, and so does every folder above it; a
// junction or link is never followed.
unsigned long RemoveStore(const std::wstring& store, bool ordered);
