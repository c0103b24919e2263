#include "themes/InstallSwap.h"

#include <windows.h>

#include <algorithm>

#include "themes/InstallSteps.h"

const wchar_t kJournalName[] = L"velmora-install.velmora-journal";

namespace {

const wchar_t kStagedSuffix[] = L".velmora-new";
const wchar_t kAsideSuffix[] = L".velmora-old";
const char kJournalHeader[] = "VELMORA-JOURNAL 2\n";
// The first journals named no original per file but noted each one put back ("R").
const char kJournalHeaderV1[] = "VELMORA-JOURNAL 1\n";
const char kJournalMark[] = "VELMORA-JOURNAL ";

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
bool IsFile(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
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

// Records the first game file that could not get its original back.
void NoteUnrestored(InstallFailure* failure, unsigned long error, const std::wstring& relative) {
    if (!failure || !failure->unrestoredPath.empty()) return;
    failure->unrestoredPath = relative;
    failure->unrestoredError = error;
}

struct SwapEntry {
    std::wstring relative;
    bool replaces;
};

struct JournalContents {
    std::vector<std::wstring> staged, folders;
    std::vector<SwapEntry> swapped;
    bool done = false;
};

// Only whole lines count: a line cut by a crash was never acted on. False
// with the Win32 error when the journal cannot be read, or is of a kind
// this program does not know (then it is left alone).
bool ReadJournal(const std::wstring& folder, JournalContents* out, unsigned long* error) {
    // A virus scanner may be reading it right now; but one open for writing
    // belongs to an install still running (another instance's): putting its
    // files back under it would mix both, so that refuses (sharing violation).
    ScopedFile file(CreateFileW(JournalPath(folder).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    LARGE_INTEGER size;
    if (!file || !GetFileSizeEx(file.get(), &size)) return *error = GetLastError(), false;
    if (size.QuadPart > (64 << 20)) return *error = ERROR_FILE_TOO_LARGE, false;
    std::string text(std::size_t(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text.empty() && !ReadFile(file.get(), text.data(), DWORD(text.size()), &got, nullptr))
        return *error = GetLastError(), false;
    text.resize(got);
    const bool v1 = text.compare(0, sizeof kJournalHeaderV1 - 1, kJournalHeaderV1) == 0;
    if (!v1 && text.compare(0, sizeof kJournalHeader - 1, kJournalHeader) != 0) {
        // A header cut short by a crash: nothing was acted on yet.
        if (text.compare(0, sizeof kJournalMark - 1, kJournalMark) == 0 && text.find('\n') != std::string::npos)
            return *error = ERROR_UNSUPPORTED_TYPE, false;
        return true;
    }
    std::vector<std::wstring> swappedV1, restoredV1;
    for (std::size_t at = text.find('\n') + 1, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        if (line == "DONE") out->done = true;
        if (line.size() < 3 || line[1] != ' ') continue;
        const std::wstring relative = FromUtf8(line.substr(2));
        switch (line[0]) {
            case 'S': out->staged.push_back(relative); break;
            case 'D': out->folders.push_back(relative); break;
            case 'W': (v1 ? swappedV1.push_back(relative) : out->swapped.push_back({relative, true})); break;
            case 'N': out->swapped.push_back({relative, false}); break;
            case 'R': restoredV1.push_back(relative); break;
        }
    }
    // An original was there when it is set aside, was put back, or was never touched.
    for (const std::wstring& relative : swappedV1) {
        const std::wstring full = folder + L"\\" + relative;
        const bool restored = std::find(restoredV1.begin(), restoredV1.end(), relative) != restoredV1.end();
        out->swapped.push_back({relative, restored || Exists(AsidePath(full)) || Exists(StagedPath(full))});
    }
    return true;
}

// Puts the original of one swapped file back, or removes our file where
// none stood, from whatever point a swap or an earlier put-back reached.
// 0, or the Win32 error that stopped it; what is on disk then still says
// where it stands. A staged file that is all that tells a file beside it is
// not ours is added to `afterJournal`: it may go only once the journal has.
unsigned long PutBack(const std::wstring& full, bool replaces, std::vector<std::wstring>* afterJournal) {
    const std::wstring staged = StagedPath(full), aside = AsidePath(full);
    if (replaces) {
        if (Exists(aside)) {
            // Ours goes back under our name before the original comes in.
            if (Exists(full) && !RenameStep(full, staged)) return GetLastError();
            if (!RenameStep(aside, full)) return GetLastError();
        }
    } else if (!Exists(staged)) {
        // Moved in where none stood.
        if (Exists(full) && !DeleteStep(full)) return GetLastError();
    } else if (Exists(full)) {
        // Still staged: the file that appeared in its place is someone else's.
        afterJournal->push_back(staged);
        return 0;
    }
    return DeleteStep(staged) ? 0 : GetLastError();
}

bool Contains(const std::vector<std::wstring>& paths, const std::wstring& path) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
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
std::wstring JournalPath(const std::wstring& folder) { return folder + L"\\" + kJournalName; }

InstallSwap::~InstallSwap() {
    if (open_) RollBack();
}

bool InstallSwap::Append(InstallStep step, const std::string& lines, bool flush, InstallFailure* failure) {
    if (WriteStep(step, journal_.get(), lines.data(), DWORD(lines.size()), JournalPath(folder_)) &&
        (!flush || !DurableWrites() || FlushFileBuffers(journal_.get()))) {
        journalSize_ += static_cast<long long>(lines.size());
        return true;
    }
    NoteFailure(failure, GetLastError(), kJournalName);
    // Whatever part got written is cut off again: a DONE that landed while
    // the write reported a failure would otherwise be taken for one later.
    LARGE_INTEGER at;
    at.QuadPart = journalSize_;
    if (SetFilePointerEx(journal_.get(), at, nullptr, FILE_BEGIN)) SetEndOfFile(journal_.get());
    return false;
}

bool InstallSwap::Begin(const std::vector<std::wstring>& files, InstallFailure* failure) {
    // A new journal over one not yet put right would forget where its originals went.
    InstallFailure earlier;
    if (!RecoverInterruptedInstall(folder_, &earlier)) {
        if (failure && failure->problem == InstallProblem::None) *failure = RefusedOver(earlier);
        return false;
    }
    const std::wstring journal = JournalPath(folder_);
    journal_.reset(CreateFileStep(journal, CREATE_ALWAYS, FILE_SHARE_READ));
    if (!journal_) return NoteFailure(failure, GetLastError(), kJournalName);
    open_ = true;
    journalSize_ = 0;
    std::string lines = kJournalHeader;
    for (const std::wstring& f : files) lines += "S " + ToUtf8(f) + "\n";
    // Not flushed: renames come only after a flush, so a power cut that
    // loses these lines leaves staged files alone, which the next install
    // of the same files removes.
    if (Append(InstallStep::Journal, lines, false, failure)) return true;
    RollBack();
    return false;
}

bool InstallSwap::NoteCreatedFolder(const std::wstring& relative, InstallFailure* failure) {
    if (!Append(InstallStep::Journal, "D " + ToUtf8(relative) + "\n", false, failure)) return false;
    folders_.push_back(relative);
    listing_.Made(relative);
    return true;
}

// A file of our names that no journal names: deleted, or the install refuses and names it.
bool InstallSwap::RemoveLeftover(const std::wstring& relative, InstallFailure* failure) {
    if (listing_.Attributes(relative) == INVALID_FILE_ATTRIBUTES) return true;
    const DWORD a = GetFileAttributesW(Full(relative).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return true;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY) && DeleteStep(Full(relative))) return true;
    // A folder of that name is nobody's leftover of ours: it stays, and blocks.
    return NoteFailure(failure, (a & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_ALREADY_EXISTS : GetLastError(), relative);
}

ScopedFile InstallSwap::CreateStaged(const std::wstring& relative, InstallFailure* failure) {
    const std::wstring staged = StagedPath(Full(relative));
    if (!RemoveLeftover(AsidePath(relative), failure) || !RemoveLeftover(StagedPath(relative), failure))
        return ScopedFile();
    // Never written over: a hidden or read-only file would refuse, and a
    // link would carry our bytes into another file.
    ScopedFile out(CreateFileStep(staged, CREATE_NEW));
    if (!out && GetLastError() == ERROR_FILE_EXISTS) {
        // One that appeared since the folder was read.
        if (!DeleteStep(staged)) {
            NoteFailure(failure, GetLastError(), StagedPath(relative));
            return ScopedFile();
        }
        out.reset(CreateFileStep(staged, CREATE_NEW));
    }
    if (out) created_.push_back(relative);
    return out;
}

void InstallSwap::AddStaged(ScopedFile file, const std::wstring& relative, bool replaces) {
    flusher_.Add(std::move(file), StagedPath(Full(relative)));
    files_.push_back({relative, replaces});
}

bool InstallSwap::AdoptStaged(const std::wstring& relative, InstallFailure* failure) {
    const std::wstring full = Full(relative);
    if (!RemoveLeftover(AsidePath(relative), failure)) return false;
    // With write access: the flush needs it.
    ScopedFile file(CreateFileW(StagedPath(full).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return NoteFailure(failure, GetLastError(), relative);
    created_.push_back(relative);
    // A folder of that name is not set aside: the move in fails, and the swap rolls back.
    AddStaged(std::move(file), relative, IsFile(full));
    return true;
}

bool InstallSwap::FailFlush(const std::wstring& stagedPath, unsigned long error, InstallFailure* failure) {
    const std::size_t suffix = sizeof kStagedSuffix / sizeof kStagedSuffix[0] - 1;
    NoteFailure(failure, error, stagedPath.substr(folder_.size() + 1, stagedPath.size() - folder_.size() - 1 - suffix));
    RollBack(failure);
    return false;
}

bool InstallSwap::Commit(InstallFailure* failure) {
    std::wstring unflushed;
    unsigned long error = 0;
    // Flushes that skipped the disk's cache are made durable by the
    // journal's flush below, which empties it: all must be done before it.
    if (FileFlusher::SendsWithoutCacheFlush() && !flusher_.Finish(&unflushed, &error))
        return FailFlush(unflushed, error, failure);
    std::string lines;
    for (const File& f : files_) lines += (f.replaces ? "W " : "N ") + ToUtf8(f.relative) + "\n";
    if (!Append(InstallStep::Journal, lines, true, failure)) {
        RollBack(failure);
        return false;
    }
    for (std::size_t i = 0; i < files_.size(); ++i) {
        File& f = files_[i];
        const std::wstring full = Full(f.relative);
        // Its bytes on disk before it goes live; the next ones may still be on their way.
        if (!flusher_.Flushed(i, &unflushed, &error)) return FailFlush(unflushed, error, failure);
        // An original gone since it was staged, or one that appeared where
        // none stood, is not what the journal says: the swap stops there.
        if (f.replaces) {
            if (!RenameStep(full, AsidePath(full))) {
                NoteFailure(failure, GetLastError(), f.relative);
                RollBack(failure);
                return false;
            }
            f.progress = Progress::SetAside;
        }
        if (!RenameStep(StagedPath(full), full)) {
            NoteFailure(failure, GetLastError(), f.relative);
            RollBack(failure);
            return false;
        }
        f.progress = Progress::Swapped;
    }
    if (!flusher_.Finish(&unflushed, &error)) return FailFlush(unflushed, error, failure);
    if (!Append(InstallStep::JournalDone, "DONE\n", true, failure)) {
        RollBack(failure);
        return false;
    }
    journal_.reset();
    open_ = false;
    bool clean = true;
    for (const File& f : files_)
        if (f.replaces) clean = DeleteStep(AsidePath(Full(f.relative))) && clean;
    // Kept when a set-aside original could not go yet: the next recovery deletes it.
    if (clean) DeleteStep(JournalPath(folder_));
    files_.clear();
    created_.clear();
    folders_.clear();
    return true;
}

void InstallSwap::RollBack(InstallFailure* failure) {
    if (!open_) return;
    std::wstring unflushed;
    unsigned long ignored = 0;
    flusher_.Finish(&unflushed, &ignored);  // every staged file is closed after it
    open_ = false;
    bool clean = true;
    std::vector<std::wstring> afterJournal;
    // Only the renames this run made; a file it never set aside is left as it is.
    for (const File& f : files_) {
        const std::wstring full = Full(f.relative);
        if (f.progress == Progress::Staged) {
            // One that appeared where none stood: the journal calls it ours while our staged file is gone.
            if (!f.replaces && Exists(full)) afterJournal.push_back(StagedPath(full));
            continue;
        }
        if (const unsigned long error = PutBack(full, f.replaces, &afterJournal)) {
            clean = false;
            NoteUnrestored(failure, error, f.relative);
        }
    }
    for (const std::wstring& relative : created_) {
        const std::wstring staged = StagedPath(Full(relative));
        if (!Contains(afterJournal, staged)) clean = DeleteStep(staged) && clean;
    }
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveFolderStep(Full(*it));
    // Held open until here, so that no other instance's recovery works on the same files at once.
    journal_.reset();
    // Kept while anything is left: the next recovery finishes from the names on disk.
    if (clean && DeleteStep(JournalPath(folder_)))
        for (const std::wstring& staged : afterJournal) DeleteStep(staged);
    files_.clear();
    created_.clear();
    folders_.clear();
}

InstallFailure RefusedOver(const InstallFailure& recovery) {
    InstallFailure refused = recovery;
    if (!recovery.unrestoredPath.empty()) {
        refused.problem = InstallProblem::Unfinished;
        refused.error = recovery.unrestoredError;
        refused.relativePath = recovery.unrestoredPath;
    }
    return refused;
}

bool RecoverInterruptedInstall(const std::wstring& folder, InstallFailure* failure) {
    const std::wstring journal = JournalPath(folder);
    if (!Exists(journal)) return true;
    JournalContents j;
    unsigned long error = 0;
    if (!ReadJournal(folder, &j, &error)) return NoteFailure(failure, error, kJournalName);
    bool clean = true;
    std::vector<std::wstring> afterJournal;
    for (const SwapEntry& s : j.swapped) {
        const std::wstring full = folder + L"\\" + s.relative;
        if (j.done) {
            // The new files stand: the originals set aside may go.
            if (!DeleteStep(AsidePath(full))) clean = NoteFailure(failure, GetLastError(), s.relative + kAsideSuffix);
        } else if (const unsigned long e = PutBack(full, s.replaces, &afterJournal)) {
            clean = false;
            NoteUnrestored(failure, e, s.relative);
        }
    }
    for (const std::wstring& relative : j.staged) {
        const std::wstring staged = StagedPath(folder + L"\\" + relative);
        if (!Contains(afterJournal, staged) && !DeleteStep(staged))
            clean = NoteFailure(failure, GetLastError(), relative + kStagedSuffix);
    }
    // Deepest first; a folder that holds anything else stays.
    if (!j.done)
        for (auto it = j.folders.rbegin(); it != j.folders.rend(); ++it) RemoveFolderStep(folder + L"\\" + *it);
    if (!clean) return false;
    if (!DeleteStep(journal)) return NoteFailure(failure, GetLastError(), kJournalName);
    // Left behind only by a kill right here: the next install of that name removes it.
    for (const std::wstring& staged : afterJournal) DeleteStep(staged);
    return true;
}
