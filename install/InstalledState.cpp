#include "install/InstalledState.h"

#include <windows.h>

#include <map>

#include "runtime/ScopedHandle.h"
#include "install/FileHash.h"
#include "install/SwapJournal.h"

namespace {

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

// The hashes taken of recorded files, each with the size and last-write
// time its file had when it was read: while the listing shows both
// unchanged, the bytes are taken to be the same (as they are for what we
// wrote). Shared by the menu and the worker that reads ahead of it.
struct Remembered {
    std::uint64_t size = 0, written = 0;
    FileHash hash;
};
SRWLOCK g_rememberedLock = SRWLOCK_INIT;
std::map<std::wstring, Remembered>* g_remembered = new std::map<std::wstring, Remembered>;  // by upper-cased path
// A theme's files and a few more: past that, the oldest reading is let go.
constexpr std::size_t kRememberedAtMost = 4096;

bool Recall(const std::wstring& key, std::uint64_t size, std::uint64_t written, FileHash* hash) {
    AcquireSRWLockShared(&g_rememberedLock);
    const auto found = g_remembered->find(key);
    const bool known = found != g_remembered->end() && found->second.size == size && found->second.written == written;
    if (known) *hash = found->second.hash;
    ReleaseSRWLockShared(&g_rememberedLock);
    return known;
}

void Remember(const std::wstring& key, std::uint64_t size, std::uint64_t written, const FileHash& hash) {
    AcquireSRWLockExclusive(&g_rememberedLock);
    if (g_remembered->size() >= kRememberedAtMost) g_remembered->clear();
    (*g_remembered)[key] = {size, written, hash};
    ReleaseSRWLockExclusive(&g_rememberedLock);
}

}  // namespace

void ForgetInstalledReadings() {
    AcquireSRWLockExclusive(&g_rememberedLock);
    g_remembered->clear();
    ReleaseSRWLockExclusive(&g_rememberedLock);
}

namespace {

// What stands at `path`, listed with `d`, read only when no hash of it
// with that size and time is known. The time is taken before the read: a
// write during it moves the time on, so the hash is never kept under the
// time of bytes it did not see.
HashResult HashListed(const std::wstring& path, const WIN32_FIND_DATAW& d, FileHash* now) {
    const std::uint64_t size = (std::uint64_t(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
    const std::uint64_t written =
        (std::uint64_t(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime;
    const std::wstring key = Upper(path);
    if (Recall(key, size, written, now)) return HashResult::Hashed;
    const HashResult hashed = HashFile(path, now);
    if (hashed == HashResult::Hashed && now->size == size) Remember(key, size, written, *now);
    return hashed;
}

// Held by the worker reading ahead while it reads.
SRWLOCK g_readingAhead = SRWLOCK_INIT;

InstalledState ReadState(const std::wstring& game) {
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
            // A size and time as we wrote them do not make a file ours: a
            // patcher may set times from its own list, and FAT keeps 2-s
            // times. The undo reads the bytes, and so does the menu.
            if (size != f.installed.size && !(f.original && size == f.original->size)) {
                // Neither ours nor the original: which hash it has does not matter.
                kind = f.original ? RecordedNow::Superseded : RecordedNow::Patched;
            } else {
                FileHash now;
                const HashResult hashed = HashListed(game + L"\\" + f.relative, d, &now);
                kind = hashed == HashResult::Unreadable ? RecordedNow::Ours
                                                        : Classify(f, hashed == HashResult::Hashed ? &now : nullptr);
            }
        }
        if (kind == RecordedNow::Ours) ++state.ours;
        if (!LeftByUndo(kind)) continue;
        ++state.changed;
        if (kind == RecordedNow::Superseded) state.superseded.push_back(f.relative);
    }
    return state;
}

LONG g_aheadRunning = 0;

DWORD WINAPI ReadAhead(void* parameter) {
    std::wstring* game = static_cast<std::wstring*>(parameter);
    AcquireSRWLockExclusive(&g_readingAhead);
    ReadState(*game);
    ReleaseSRWLockExclusive(&g_readingAhead);
    delete game;
    InterlockedExchange(&g_aheadRunning, 0);
    return 0;
}

}  // namespace

InstalledState ReadInstalledState(const std::wstring& game) {
    // A worker reading ahead is let finish first: its hashes are then
    // known, instead of both reading the same files at once.
    AcquireSRWLockShared(&g_readingAhead);
    ReleaseSRWLockShared(&g_readingAhead);
    return ReadState(game);
}

void ReadInstalledStateAhead(const std::wstring& game) {
    if (InterlockedCompareExchange(&g_aheadRunning, 1, 0) != 0) return;
    std::wstring* copy = new std::wstring(game);
    ScopedKernelHandle thread(CreateThread(nullptr, 0, ReadAhead, copy, 0, nullptr));
    if (thread) return;
    delete copy;
    InterlockedExchange(&g_aheadRunning, 0);
}
