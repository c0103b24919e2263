#include "themes/InstallSwap.h"

#include <windows.h>

#include <algorithm>

namespace {

const wchar_t kStagedSuffix[] = L".velmora-new";
const wchar_t kAsideSuffix[] = L".velmora-old";
const char kJournalHeader[] = "VELMORA-JOURNAL 1\n";

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A read-only, hidden or system file cannot be deleted as it is.
bool DeleteAnyFile(const std::wstring& path) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

// A virus scanner opens every new file for a moment: a rename that meets it
// is tried again briefly before it counts as a failure. A game that holds
// the file stays in the way and fails it after about a third of a second.
bool MoveWithRetry(const std::wstring& from, const std::wstring& to) {
    for (DWORD wait = 25;; wait *= 2) {
        if (MoveFileExW(from.c_str(), to.c_str(), 0)) return true;
        const DWORD error = GetLastError();
        if ((error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED && error != ERROR_LOCK_VIOLATION) ||
            wait > 200)
            return false;
        Sleep(wait);
        SetLastError(error);
    }
}

std::string ToUtf8(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(std::max(n, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), int(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring FromUtf8(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), int(utf8.size()), nullptr, 0);
    std::wstring out(std::size_t(std::max(n, 0)), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), int(utf8.size()), out.data(), n);
    return out;
}

void (*g_stepHook)(int) = nullptr;

struct JournalContents {
    std::vector<std::wstring> staged, folders, swapped, restored;
    bool done = false;
};

// Only whole lines count: a line cut by a crash was never acted on.
bool ReadJournal(const std::wstring& path, JournalContents* out) {
    ScopedFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > (64 << 20)) return false;
    std::string text(std::size_t(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text.empty() && !ReadFile(file.get(), text.data(), DWORD(text.size()), &got, nullptr)) return false;
    text.resize(got);
    if (text.compare(0, sizeof kJournalHeader - 1, kJournalHeader) != 0) return true;  // nothing was acted on
    for (std::size_t at = sizeof kJournalHeader - 1, end; (end = text.find('\n', at)) != std::string::npos;
         at = end + 1) {
        const std::string line = text.substr(at, end - at);
        if (line == "DONE") out->done = true;
        if (line.size() < 3 || line[1] != ' ') continue;
        const std::wstring relative = FromUtf8(line.substr(2));
        if (line[0] == 'S') out->staged.push_back(relative);
        if (line[0] == 'D') out->folders.push_back(relative);
        if (line[0] == 'W') out->swapped.push_back(relative);
        if (line[0] == 'R') out->restored.push_back(relative);
    }
    return true;
}

// Puts one swapped file back as it was before the install.
bool RestoreOne(const std::wstring& full) {
    const std::wstring aside = AsidePath(full);
    if (Exists(aside)) {
        // The original was set aside: whatever stands in its place is ours.
        if (Exists(full) && !DeleteAnyFile(full)) return false;
        return MoveWithRetry(aside, full);
    }
    // Still staged: the original (or nothing) was never touched.
    if (Exists(StagedPath(full))) return true;
    // Moved into a place where nothing stood before.
    return !Exists(full) || DeleteAnyFile(full);
}

}  // namespace

bool NoteFailure(InstallFailure* failure, unsigned long error, const std::wstring& relativePath) {
    if (!failure || failure->problem != InstallProblem::None) return false;
    switch (error) {
        case ERROR_SHARING_VIOLATION: case ERROR_LOCK_VIOLATION: case ERROR_USER_MAPPED_FILE:
            failure->problem = InstallProblem::InUse; break;
        case ERROR_ACCESS_DENIED: case ERROR_WRITE_PROTECT: case ERROR_PRIVILEGE_NOT_HELD:
            failure->problem = InstallProblem::AccessDenied; break;
        case ERROR_DISK_FULL: case ERROR_HANDLE_DISK_FULL:
            failure->problem = InstallProblem::DiskFull; break;
        default:
            failure->problem = InstallProblem::Other;
    }
    failure->error = error;
    failure->relativePath = relativePath;
    return false;
}

bool NoteDamaged(InstallFailure* failure, const std::wstring& relativePath) {
    if (!failure || failure->problem != InstallProblem::None) return false;
    failure->problem = InstallProblem::Damaged;
    failure->relativePath = relativePath;
    return false;
}

std::wstring StagedPath(const std::wstring& path) { return path + kStagedSuffix; }
std::wstring AsidePath(const std::wstring& path) { return path + kAsideSuffix; }
std::wstring JournalPath(const std::wstring& folder) { return folder + L"\\velmora-install.velmora-journal"; }

InstallSwap::~InstallSwap() {
    if (open_) RollBack();
}

bool InstallSwap::Append(const std::string& lines, bool flush, InstallFailure* failure) {
    DWORD wrote = 0;
    const bool ok = WriteFile(journal_.get(), lines.data(), DWORD(lines.size()), &wrote, nullptr) &&
                    wrote == lines.size() && (!flush || FlushFileBuffers(journal_.get()));
    if (!ok) NoteFailure(failure, GetLastError(), L"velmora-install.velmora-journal");
    return ok;
}

bool InstallSwap::Begin(const std::vector<std::wstring>& files, InstallFailure* failure) {
    // A new journal over one not yet undone would forget where its originals went.
    if (!RecoverInterruptedInstall(folder_))
        return NoteFailure(failure, ERROR_SHARING_VIOLATION, L"velmora-install.velmora-journal");
    journal_.reset(CreateFileW(JournalPath(folder_).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!journal_) {
        NoteFailure(failure, GetLastError(), L"velmora-install.velmora-journal");
        return false;
    }
    open_ = true;
    std::string lines = kJournalHeader;
    for (const std::wstring& f : files) lines += "S " + ToUtf8(f) + "\n";
    // Not flushed: lost to a power cut, it leaves only staged copies under
    // names no game file has, which the next install into the folder reuses.
    if (Append(lines, false, failure)) return true;
    RollBack();
    return false;
}

bool InstallSwap::NoteCreatedFolder(const std::wstring& relative, InstallFailure* failure) {
    return Append("D " + ToUtf8(relative) + "\n", false, failure);
}

bool InstallSwap::Commit(const std::vector<SwapFile>& files, InstallFailure* failure) {
    // The list goes to disk before the first rename: recovery must know it.
    std::string lines;
    for (const SwapFile& f : files) lines += "W " + ToUtf8(f.relative) + "\n";
    if (!Append(lines, true, failure)) {
        RollBack();
        return false;
    }
    int renames = 0;
    const auto step = [&] {
        if (g_stepHook) g_stepHook(++renames);
        return true;
    };
    std::vector<std::wstring> setAside;
    for (const SwapFile& f : files) {
        const std::wstring full = Full(f.relative);
        // Gone since it was staged: nothing to set aside. One that appeared
        // since makes the move below fail, and the swap roll back.
        bool replaced = f.replaces && MoveWithRetry(full, AsidePath(full));
        if (f.replaces && !replaced && GetLastError() != ERROR_FILE_NOT_FOUND) {
            NoteFailure(failure, GetLastError(), f.relative);
            RollBack();
            return false;
        }
        if ((replaced && !step()) || !(MoveWithRetry(StagedPath(full), full) && step())) {
            NoteFailure(failure, GetLastError(), f.relative);
            RollBack();
            return false;
        }
        if (replaced) setAside.push_back(AsidePath(full));
    }
    // From here on the new files stand. Not flushed: a power cut that loses
    // this line rolls back to the old files, which is as whole as the new.
    if (!Append("DONE\n", false, failure)) {
        RollBack();
        return false;
    }
    journal_.reset();
    open_ = false;
    bool clean = true;
    for (const std::wstring& aside : setAside) clean = DeleteAnyFile(aside) && clean;
    // Kept when a set-aside copy could not go: the next run deletes it.
    if (clean) DeleteAnyFile(JournalPath(folder_));
    return true;
}

void InstallSwap::RollBack() {
    journal_.reset();
    open_ = false;
    RecoverInterruptedInstall(folder_);
}

void SetSwapStepHook(void (*hook)(int renames)) { g_stepHook = hook; }

bool RecoverInterruptedInstall(const std::wstring& folder) {
    const std::wstring journal = JournalPath(folder);
    JournalContents j;
    if (!ReadJournal(journal, &j)) return GetFileAttributesW(journal.c_str()) == INVALID_FILE_ATTRIBUTES;
    bool clean = true;
    if (j.done) {
        for (const std::wstring& relative : j.swapped) {
            const std::wstring aside = AsidePath(folder + L"\\" + relative);
            if (Exists(aside) && !DeleteAnyFile(aside)) clean = false;
        }
    } else {
        // Each file put back is noted ("R"), so that a recovery cut short, or
        // one that met a held file, is never mistaken later for files of ours
        // to delete: once its staged copy is gone, a put-back original looks
        // exactly like a new file placed where none stood.
        ScopedFile notes(CreateFileW(journal.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
        std::string lines;
        for (const std::wstring& relative : j.swapped) {
            if (std::find(j.restored.begin(), j.restored.end(), relative) != j.restored.end()) continue;
            if (RestoreOne(folder + L"\\" + relative))
                lines += "R " + ToUtf8(relative) + "\n";
            else
                clean = false;
        }
        DWORD wrote = 0;
        const bool noted = lines.empty() || (notes && WriteFile(notes.get(), lines.data(), DWORD(lines.size()), &wrote,
                                                                nullptr) &&
                                             wrote == lines.size() && FlushFileBuffers(notes.get()));
        // Without the notes on disk, the staged copies must stay: they tell the state.
        if (!noted) return false;
    }
    for (const std::wstring& relative : j.staged) {
        const std::wstring staged = StagedPath(folder + L"\\" + relative);
        if (Exists(staged) && !DeleteAnyFile(staged)) clean = false;
    }
    // Deepest first; a folder that holds anything else stays.
    if (!j.done)
        for (auto it = j.folders.rbegin(); it != j.folders.rend(); ++it)
            RemoveDirectoryW((folder + L"\\" + *it).c_str());
    // Kept when something could not be put right: the next run tries again.
    return clean && DeleteAnyFile(journal);
}
