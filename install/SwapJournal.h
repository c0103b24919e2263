// The journal of one install or undo in a folder, as a recovery reads it
// (InstallSwap.h tells what each line means and when it is written).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "install/BackupRecord.h"
#include "install/FileHash.h"
#include "install/KeepOrDelete.h"

extern const wchar_t kJournalName[];
// The first line of a journal this release writes.
extern const char kJournalHeader[];
std::wstring JournalPath(const std::wstring& folder);

// What an undo does (UndoInstalls.h works it out): the files whose
// originals come back from the store in place of ours (restore) or where
// nothing stands now (putBack), the files of ours where none stood, the
// folders our installs made, and the originals that go with the store
// (their bytes stand in Game again, or the undo's question said they would
// not be kept). With `keepStore` the store stays, with `record` naming what
// it still keeps; else it goes. `record` has the last install's entry even
// when it names no file; `restored`, `removed` and `putBackFiles` are the
// record's lines of `restore`, `remove` and `putBack`, one each.
struct UndoPlan {
    std::vector<std::wstring> restore, putBack, remove, folders, drop, asBefore;
    std::vector<RecordedFile> restored, removed, putBackFiles;
    bool keepStore = false;
    BackupRecord record;
};

struct SwapEntry {
    std::wstring relative;
    bool replaces;
    // What we moved in under that name, when the journal says (its H line).
    bool known = false;
    FileHash installed;
};

struct JournalContents {
    std::vector<std::wstring> staged, folders;
    std::vector<SwapEntry> swapped;
    bool done = false;
    // The backup store's part (see InstallSwap.h).
    bool store = false, storeMade = false, removeStore = false;
    // The run found a volume that keeps no order: originals were copied across folders.
    bool copies = false;
    std::vector<KeptOriginal> kept;
    UndoPlan undo;
};

// Only whole lines count: a line cut by a crash was never acted on. False
// with the Win32 error when the journal cannot be read, or is of a kind
// this program does not know (then it is left alone).
bool ReadJournalFile(HANDLE file, const std::wstring& folder, JournalContents* out, unsigned long* error);
// The journal of an install or undo that holds it open for writing itself.
bool ReadOwnJournal(const std::wstring& folder, JournalContents* out, unsigned long* error);
// A recovery's hold on the journal (see the .cpp).
HANDLE OpenJournalForRecovery(const std::wstring& journal);
