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

}  // namespace

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
        if (kind == RecordedNow::Ours) ++state.ours;
        if (!LeftByUndo(kind)) continue;
        ++state.changed;
        if (kind == RecordedNow::Superseded) state.superseded.push_back(f.relative);
    }
    return state;
}
