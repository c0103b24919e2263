#include "install/KeepOrDelete.h"

#include <windows.h>

#include "runtime/ScopedHandle.h"
#include "install/BackupStore.h"
#include "install/SwapNames.h"
#include "install/Volume.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Where a file stands, with the letter case of its own name on disk.
std::wstring OnDiskName(const std::wstring& game, const std::wstring& relative) {
    WIN32_FIND_DATAW entry;
    ScopedFind find(FindFirstFileW((game + L"\\" + relative).c_str(), &entry));
    if (!find) return relative;
    const std::size_t slash = relative.find_last_of(L'\\');
    return (slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash + 1)) + entry.cFileName;
}

}  // namespace

bool PlanRecord(const std::wstring& game, const std::vector<SwappedFile>& files,
                const std::vector<std::wstring>& madeFolders, int entry, const Text& word, BackupRecord* next,
                std::vector<KeptOriginal>* kept, InstallFailure* failure) {
    const std::wstring store = StoreFolder(game);
    BackupRecord record;
    if (ReadRecord(store, &record) == RecordRead::Unreadable)
        return NoteStoreDamaged(failure, StoreRelative(L"record.txt"));
    if (!SameVolume(game, ParentFolder(store))) return NoteFailure(failure, ERROR_NOT_SAME_DEVICE, StoreRelative());
    for (const SwappedFile& f : files) {
        // The file itself as it was set aside: what the game may have
        // written there up to the rename is in it.
        const std::wstring aside = AsidePath(game + L"\\" + f.relative);
        const RecordedFile* known = FindRecorded(record, f.relative);
        FileHash now;
        bool keep = false;
        // Always by its bytes, read after the rename: its size and time say
        // nothing for certain (a patcher may set the time from its own list),
        // and a file taken for ours is deleted.
        if (f.replaces) {
            const HashResult hashed = HashOriginal(aside, &now);
            if (hashed == HashResult::Unreadable) return NoteFailure(failure, GetLastError(), f.relative + kAsideSuffix);
            // Gone since it was set aside: there is nothing to keep.
            keep = hashed == HashResult::Hashed && (!known || now != known->installed);
        }
        if (!known) record.files.push_back({f.relative, std::nullopt, FileHash()});
        RecordedFile* r = FindRecorded(record, f.relative);
        if (keep) {
            const std::wstring asideName = OnDiskName(game, f.relative + kAsideSuffix);
            const std::wstring name = asideName.substr(0, asideName.size() - (sizeof kAsideSuffix / sizeof kAsideSuffix[0] - 1));
            // Only an older original of this place may give way to it: any
            // other file kept under that name is one the record lost track
            // of, and it is not ours to delete.
            if (!r->original && GetFileAttributesW(OriginalPath(store, name).c_str()) != INVALID_FILE_ATTRIBUTES)
                return NoteStoreDamaged(failure, StoreRelative(L"originals\\" + name));
            kept->push_back({f.relative, name});
            r->relative = name;
            r->original = now;
        }
        r->installed = f.installed;
        r->written = f.written;
    }
    for (const std::wstring& folder : madeFolders)
        if (!HasFolder(record, folder)) record.folders.push_back(folder);
    record.entry = entry;
    record.word = word;
    record.time = RecordTimeNow();
    *next = std::move(record);
    return true;
}

RecordedNow Classify(const RecordedFile& f, const FileHash* now) {
    if (!now) return f.original ? RecordedNow::Vanished : RecordedNow::AsBefore;
    if (*now == f.installed) return RecordedNow::Ours;
    if (f.original && *now == *f.original) return RecordedNow::AsBefore;
    return f.original ? RecordedNow::Superseded : RecordedNow::Patched;
}

// An original whose bytes stood in Game again when the undo looked goes
// only while they still do: the game may have patched the file since (or,
// after a crash, before the recovery). The Game file is held open against
// writers and renames from the comparison until the kept copy is gone.
// Otherwise the kept copy stays in the store, under its name.
unsigned long DropIfStandsAgain(const std::wstring& game, const std::wstring& store, const std::wstring& relative) {
    const std::wstring kept = OriginalPath(store, relative), full = game + L"\\" + relative;
    if (!Exists(kept)) return 0;  // dropped before a crash
    ScopedFile held(CreateFileW(full.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!held || !SameBytes(full, kept)) return 0;
    return DropOriginal(store, relative);
}
