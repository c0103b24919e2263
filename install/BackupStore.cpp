#include "install/BackupStore.h"

#include <windows.h>

#include <vector>

#include "runtime/ScopedHandle.h"
#include "install/InstallFailure.h"
#include "install/DurableMove.h"
#include "install/InstallSteps.h"
#include "install/InstallSwap.h"
#include "install/SwapNames.h"
#include "install/Volume.h"

const wchar_t kStoreName[] = L"Velmora备份";

namespace {

// The record is a few kilobytes; anything past this is not ours.
constexpr DWORD kMaxRecordBytes = 16u << 20;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A folder made, and where the volume keeps no order, on disk in its
// parent before anything is put in it that another step relies on.
unsigned long MakeFolder(const std::wstring& path, bool ordered) {
    if (!MakeFolderStep(path) || (!ordered && !FlushFolderStep(ParentFolder(path)))) return GetLastError();
    return 0;
}

// Every folder of `relative`'s path under `base` that is missing, made.
unsigned long MakeParents(const std::wstring& base, const std::wstring& relative, bool ordered) {
    for (std::size_t at = relative.find(L'\\'); at != std::wstring::npos; at = relative.find(L'\\', at + 1)) {
        const std::wstring level = base + L"\\" + relative.substr(0, at);
        if (!Exists(level))
            if (const unsigned long error = MakeFolder(level, ordered)) return error;
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
    // Between the two renames of a record's replacement where renames keep
    // no order (see ReplaceRecord), the record stands set aside.
    const bool aside = !Exists(RecordPath(store)) && Exists(AsidePath(RecordPath(store)));
    FileReader file(aside ? AsidePath(RecordPath(store)) : RecordPath(store), true);
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
    return SameVolume(folder, ParentFolder(StoreFolder(game)));
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

unsigned long KeepOriginal(const std::wstring& game, const std::wstring& relative, const std::wstring& kept,
                           bool ordered) {
    const std::wstring aside = AsidePath(game + L"\\" + relative);
    const std::wstring store = StoreFolder(game);
    // A copy left by a power cut after its source went: a copy is never the only one.
    if (!Exists(aside)) return ordered || DeleteStep(CopyPath(OriginalPath(store, kept))) ? 0 : GetLastError();
    const std::wstring originals = OriginalsFolder(store);
    if (!Exists(originals))
        if (const unsigned long error = MakeFolder(originals, ordered)) return error;
    if (const unsigned long error = MakeParents(originals, kept, ordered)) return error;
    // Into another folder: one rename only where renames keep their order.
    if (!ordered) return MoveDurably(aside, OriginalPath(store, kept));
    // While the set-aside one stands, one kept under that name is the older
    // original. One rename replaces it, never a delete first: until the newer
    // one is in, the older stays, and a second recovery doing the same at
    // once finds the set-aside file gone instead of deleting what came in.
    if (ReplaceStep(aside, OriginalPath(store, kept))) return 0;
    const DWORD error = GetLastError();
    return Exists(aside) ? error : 0;
}

unsigned long ReplaceRecord(const std::wstring& store, bool ordered) {
    const std::wstring staged = StagedRecordPath(store), record = RecordPath(store), aside = AsidePath(record);
    if (ordered) return !Exists(staged) || ReplaceStep(staged, record) ? 0 : GetLastError();
    // A rename over a file is a delete and a rename there, which reach the
    // disk in either order: the record could vanish. So the old one is set
    // aside first (ReadRecord reads it there), the new one comes in, and the
    // old one goes, each on disk before the next. While the staged record
    // stands, a record.txt beside it is the current one, and a set-aside one
    // beside that a leftover of an earlier replacement.
    if (Exists(staged)) {
        if (Exists(record) && (!DeleteStep(aside) || !RenameStep(record, aside) || !FlushFolderStep(store)))
            return GetLastError();
        if (!RenameStep(staged, record) || !FlushFolderStep(store)) return GetLastError();
    }
    return DeleteStep(aside) ? 0 : GetLastError();
}

unsigned long DropOriginal(const std::wstring& store, const std::wstring& relative) {
    return DeleteStep(OriginalPath(store, relative)) ? 0 : GetLastError();
}

unsigned long RemoveStore(const std::wstring& store, bool ordered) {
    if (!Exists(store)) return 0;
    unsigned long error = 0;
    // The record last, and on its own: a set-aside one that outlived it would be read instead.
    for (const std::wstring& path : {AsidePath(RecordPath(store)), StagedRecordPath(store)})
        if (!DeleteStep(path) && !error) error = GetLastError();
    if (!error && !ordered && !FlushFolderStep(store)) error = GetLastError();
    if (!error && !DeleteStep(RecordPath(store))) error = GetLastError();
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

