#include "install/BackupStore.h"

#include <windows.h>

#include <map>
#include <vector>

#include "runtime/ScopedHandle.h"
#include "install/InstallFailure.h"
#include "install/InstallSteps.h"
#include "install/InstallSwap.h"
#include "install/SwapNames.h"

const wchar_t kStoreName[] = L"Velmora备份";

namespace {

// The record is a few kilobytes; anything past this is not ours.
constexpr DWORD kMaxRecordBytes = 16u << 20;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }


// Every folder of `relative`'s path under `base` that is missing, made.
unsigned long MakeParents(const std::wstring& base, const std::wstring& relative) {
    for (std::size_t at = relative.find(L'\\'); at != std::wstring::npos; at = relative.find(L'\\', at + 1)) {
        const std::wstring level = base + L"\\" + relative.substr(0, at);
        if (!Exists(level) && !MakeFolderStep(level)) return GetLastError();
    }
    return 0;
}

// The folders below a folder of the store, deepest first. A junction or a
// link is not descended into: what it leads to is not the store's.
void ListFolders(const std::wstring& folder, std::vector<std::wstring>* folders) {
    WIN32_FIND_DATAW entry;
    ScopedFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L".." || !(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        ListFolders(folder + L"\\" + name, folders);
        folders->push_back(folder + L"\\" + name);
    } while (FindNextFileW(find.get(), &entry));
}

// Where a file stands, with the letter case of its own name on disk.
std::wstring OnDiskName(const std::wstring& game, const std::wstring& relative) {
    WIN32_FIND_DATAW entry;
    ScopedFind find(FindFirstFileW((game + L"\\" + relative).c_str(), &entry));
    if (!find) return relative;
    const std::size_t slash = relative.find_last_of(L'\\');
    return (slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash + 1)) + entry.cFileName;
}

// The originals move by renaming: the store must be on the Game folder's
// volume (Game could be a folder mounted from another).
bool SameVolume(const std::wstring& a, const std::wstring& b) {
    BY_HANDLE_FILE_INFORMATION ia, ib;
    ScopedFile fa(CreateFileW(a.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ScopedFile fb(CreateFileW(b.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    // Where it cannot be told, the renames will tell.
    if (!fa || !fb || !GetFileInformationByHandle(fa.get(), &ia) || !GetFileInformationByHandle(fb.get(), &ib))
        return true;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber;
}

std::wstring Upper(std::wstring s) {
    if (!s.empty()) CharUpperBuffW(s.data(), DWORD(s.size()));
    return s;
}

// A folder's files and folders by their upper-cased names; nothing when it cannot be read.
std::map<std::wstring, WIN32_FIND_DATAW> ListFolder(const std::wstring& folder) {
    std::map<std::wstring, WIN32_FIND_DATAW> out;
    WIN32_FIND_DATAW entry;
    ScopedFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    if (!find) return out;
    do {
        out[Upper(entry.cFileName)] = entry;
    } while (FindNextFileW(find.get(), &entry));
    return out;
}

std::wstring ParentOf(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(0, slash);
}

}  // namespace

std::wstring StoreFolder(const std::wstring& game) {
    const std::size_t slash = game.find_last_of(L'\\');
    return (slash == std::wstring::npos ? game : game.substr(0, slash)) + L"\\" + kStoreName;
}

std::wstring RecordPath(const std::wstring& store) { return store + L"\\record.txt"; }
std::wstring OriginalsFolder(const std::wstring& store) { return store + L"\\originals"; }
std::wstring OriginalPath(const std::wstring& store, const std::wstring& relative) {
    return OriginalsFolder(store) + L"\\" + relative;
}

RecordRead ReadRecord(const std::wstring& store, BackupRecord* record) {
    FileReader file(RecordPath(store), true);
    if (file.get() == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RecordRead::None
                                                                              : RecordRead::Unreadable;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxRecordBytes) return RecordRead::Unreadable;
    std::string text(std::size_t(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text.empty() && (!ReadFile(file.get(), text.data(), DWORD(text.size()), &got, nullptr) || got != text.size()))
        return RecordRead::Unreadable;
    return ParseRecord(text, record) ? RecordRead::Read : RecordRead::Unreadable;
}

std::wstring StoreRelative(const std::wstring& name) {
    return std::wstring(L"..\\") + kStoreName + (name.empty() ? L"" : L"\\" + name);
}

bool OnStoreVolume(const std::wstring& game, const std::wstring& folder) {
    return SameVolume(folder, ParentOf(StoreFolder(game)));
}

bool PlanRecord(const std::wstring& game, const std::vector<SwappedFile>& files,
                const std::vector<std::wstring>& madeFolders, int entry, const Text& word, BackupRecord* next,
                std::vector<KeptOriginal>* kept, InstallFailure* failure) {
    const std::wstring store = StoreFolder(game);
    BackupRecord record;
    if (ReadRecord(store, &record) == RecordRead::Unreadable)
        return NoteStoreDamaged(failure, StoreRelative(L"record.txt"));
    if (!SameVolume(game, ParentOf(store))) return NoteFailure(failure, ERROR_NOT_SAME_DEVICE, StoreRelative());
    for (const SwappedFile& f : files) {
        // The file itself as it was set aside: what the game may have
        // written there up to the rename is in it.
        const std::wstring aside = AsidePath(game + L"\\" + f.relative);
        const RecordedFile* known = FindRecorded(record, f.relative);
        FileHash now;
        bool keep = false;
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

std::wstring StagedRecordPath(const std::wstring& store) { return StagedPath(RecordPath(store)); }

unsigned long StageRecord(const std::wstring& store, const BackupRecord& record, ScopedFile* written) {
    const std::wstring path = StagedRecordPath(store);
    if (!DeleteStep(path)) return GetLastError();  // a leftover of a run whose journal was lost
    ScopedFile file(CreateFileStep(path, CREATE_NEW));
    if (!file) return GetLastError();
    const std::string text = FormatRecord(record);
    if (!WriteStep(InstallStep::Write, file.get(), text.data(), DWORD(text.size()), path)) return GetLastError();
    *written = std::move(file);
    return 0;
}

unsigned long DropStagedRecord(const std::wstring& store) {
    return DeleteStep(StagedRecordPath(store)) ? 0 : GetLastError();
}

unsigned long KeepOriginal(const std::wstring& game, const std::wstring& relative, const std::wstring& kept) {
    const std::wstring aside = AsidePath(game + L"\\" + relative);
    if (!Exists(aside)) return 0;
    const std::wstring store = StoreFolder(game);
    const std::wstring originals = OriginalsFolder(store);
    if (!Exists(originals) && !MakeFolderStep(originals)) return GetLastError();
    if (const unsigned long error = MakeParents(originals, kept)) return error;
    // While the set-aside one stands, one kept under that name is the older
    // original. One rename replaces it, never a delete first: until the newer
    // one is in, the older stays, and a second recovery doing the same at
    // once finds the set-aside file gone instead of deleting what came in.
    if (ReplaceStep(aside, OriginalPath(store, kept))) return 0;
    const DWORD error = GetLastError();
    return Exists(aside) ? error : 0;
}

unsigned long ReplaceRecord(const std::wstring& store) {
    const std::wstring staged = StagedRecordPath(store);
    if (!Exists(staged)) return 0;
    return ReplaceStep(staged, RecordPath(store)) ? 0 : GetLastError();
}

unsigned long DropOriginal(const std::wstring& store, const std::wstring& relative) {
    return DeleteStep(OriginalPath(store, relative)) ? 0 : GetLastError();
}

unsigned long RemoveStore(const std::wstring& store) {
    if (!Exists(store)) return 0;
    unsigned long error = 0;
    for (const std::wstring& path : {RecordPath(store), StagedRecordPath(store)})
        if (!DeleteStep(path) && !error) error = GetLastError();
    // Only empty folders go: what the undo did not name stays where it is.
    std::vector<std::wstring> folders;
    const std::wstring originals = OriginalsFolder(store);
    const DWORD a = GetFileAttributesW(originals.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_REPARSE_POINT)) ListFolders(originals, &folders);
    folders.push_back(originals);
    folders.push_back(store);
    for (const std::wstring& f : folders) RemoveFolderStep(f);
    return error;
}

RecordedNow Classify(const RecordedFile& f, const FileHash* now) {
    if (!now) return f.original ? RecordedNow::Vanished : RecordedNow::AsBefore;
    if (*now == f.installed) return RecordedNow::Ours;
    if (f.original && *now == *f.original) return RecordedNow::AsBefore;
    return f.original ? RecordedNow::Superseded : RecordedNow::Patched;
}

InstalledState ReadInstalledState(const std::wstring& game) {
    InstalledState state;
    state.unfinished = GetFileAttributesW(JournalPath(game).c_str()) != INVALID_FILE_ATTRIBUTES;
    BackupRecord record;
    state.record = ReadRecord(StoreFolder(game), &record);
    if (state.record != RecordRead::Read) return state;
    state.entry = record.entry;
    state.word = record.word;
    // Under Wine each look at a single file costs as much as reading a small
    // one: one listing a folder tells size and time of all of its files.
    std::map<std::wstring, std::map<std::wstring, WIN32_FIND_DATAW>> folders;
    for (const RecordedFile& f : record.files) {
        const std::size_t slash = f.relative.find_last_of(L'\\');
        const std::wstring folder = slash == std::wstring::npos ? std::wstring() : f.relative.substr(0, slash);
        const std::wstring key = Upper(folder);
        if (!folders.count(key)) folders[key] = ListFolder(folder.empty() ? game : game + L"\\" + folder);
        const auto& listed = folders[key];
        const auto found = listed.find(Upper(f.relative.substr(slash == std::wstring::npos ? 0 : slash + 1)));
        RecordedNow kind;
        if (found == listed.end() || (found->second.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            kind = Classify(f, nullptr);
        } else {
            const WIN32_FIND_DATAW& d = found->second;
            const std::uint64_t size = (std::uint64_t(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
            const std::uint64_t written =
                (std::uint64_t(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
            if (size == f.installed.size && written == f.written && f.written != 0) {
                kind = RecordedNow::Ours;
            } else if (size != f.installed.size && !(f.original && size == f.original->size)) {
                // Neither ours nor the original: which hash it has does not matter.
                kind = f.original ? RecordedNow::Superseded : RecordedNow::Patched;
            } else {
                FileHash now;
                const HashResult hashed = HashFile(game + L"\\" + f.relative, &now);
                kind = hashed == HashResult::Unreadable ? RecordedNow::Ours
                                                        : Classify(f, hashed == HashResult::Hashed ? &now : nullptr);
            }
        }
        if (!LeftByUndo(kind)) continue;
        ++state.changed;
        if (kind == RecordedNow::Superseded) state.superseded.push_back(f.relative);
    }
    return state;
}
