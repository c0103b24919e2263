#include "install/InstallSwap.h"

#include <windows.h>

#include <algorithm>

#include "runtime/Encoding.h"
#include "install/BackupStore.h"
#include "install/DurableMove.h"
#include "install/InstalledState.h"
#include "install/KeepOrDelete.h"
#include "install/SwapJournal.h"
#include "install/FileHash.h"
#include "install/InstallSteps.h"
#include "install/SwapNames.h"
#include "install/Volume.h"

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
constexpr std::size_t kSuffixLength = sizeof kStagedSuffix / sizeof kStagedSuffix[0] - 1;
bool IsFile(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

// Records the first game file that could not get its original back.
void NoteUnrestored(InstallFailure* failure, unsigned long error, const std::wstring& relative) {
    if (!failure || !failure->unrestoredPath.empty()) return;
    failure->unrestoredPath = relative;
    failure->unrestoredError = error;
}

// A path with the letter case its last level has on disk (Windows finds
// names whatever their case, and keeps the case a rename gives): a file set
// aside keeps its own name's case, and gets it back.
std::wstring AsOnDisk(const std::wstring& path) {
    WIN32_FIND_DATAW entry;
    ScopedFind find(FindFirstFileW(path.c_str(), &entry));
    if (!find) return path;
    return path.substr(0, path.find_last_of(L'\\') + 1) + entry.cFileName;
}

// The name a file set aside or staged under our suffix had, as on disk.
std::wstring WithoutSuffix(const std::wstring& path) {
    const std::wstring named = AsOnDisk(path);
    return named.substr(0, named.size() - (sizeof kStagedSuffix / sizeof kStagedSuffix[0] - 1));
}

// Puts the original of one swapped file back, or removes our file where
// none stood, from whatever point a swap or an earlier put-back reached.
// 0, or the Win32 error that stopped it; what is on disk then still says
// where it stands. A staged file that is all that tells a file beside it is
// not ours is added to `afterJournal`: it may go only once the journal has.
// `ours`, when known, is what we moved in: a file under the name that holds
// anything else is the game's, written since, and is left where it is (its
// set-aside original then stays beside it as ".velmora-old", which nothing
// deletes; the next install names it).
unsigned long PutBack(const std::wstring& full, bool replaces, std::vector<std::wstring>* afterJournal,
                      const FileHash* ours) {
    const std::wstring staged = StagedPath(full), aside = AsidePath(full);
    const auto gameWrote = [&] {
        FileHash now;
        return ours && HashOriginal(full, &now) == HashResult::Hashed && now != *ours;
    };
    if (replaces) {
        if (Exists(aside)) {
            // Ours goes back under our name before the original comes in.
            if (Exists(full) && gameWrote()) return 0;
            if (Exists(full) && !RenameStep(full, staged)) return GetLastError();
            if (!RenameStep(aside, WithoutSuffix(aside))) return GetLastError();
        }
    } else if (!Exists(staged)) {
        // Moved in where none stood.
        if (Exists(full) && gameWrote()) return 0;
        if (Exists(full) && !DeleteStep(full)) return GetLastError();
    } else if (Exists(full)) {
        // Still staged: the file that appeared in its place is someone else's.
        afterJournal->push_back(staged);
        return 0;
    }
    return DeleteStep(staged) ? 0 : GetLastError();
}

// Puts one file of an undo back as it was before the undo, from whatever
// point the undo or an earlier put-back reached: the original (if one came
// in) back into the store, ours back under its own name. `original` is the
// store's name for it, empty where no file stood. `copied`: renames keep
// no order there, and the undo copied originals in (BringBack).
unsigned long PutBackUndone(const std::wstring& full, const std::wstring& original, bool copied) {
    const std::wstring staged = StagedPath(full);
    // A copy cut short goes.
    if (copied && !original.empty() && !DeleteStep(CopyPath(full))) return GetLastError();
    if (!Exists(staged)) return 0;  // ours never went aside, or is back
    if (Exists(full)) {
        // Something else came in: only the original may be moved back out,
        // or its copy deleted while the original still stands in the store.
        if (original.empty()) return ERROR_ALREADY_EXISTS;
        if (Exists(original)) {
            if (!copied) return ERROR_ALREADY_EXISTS;
            if (!SameBytes(full, original)) return ERROR_ALREADY_EXISTS;
            if (!DeleteStep(full)) return GetLastError();
        } else if (!RenameStep(full, original)) {
            return GetLastError();
        }
    }
    return RenameStep(staged, WithoutSuffix(staged)) ? 0 : GetLastError();
}

// Puts one original that an undo moved back where nothing stood into the
// store again: it is the file under its name while the store has none, and
// while it holds the original's recorded bytes, when `recorded` tells them.
// Other bytes there are the game's, written over the original after it came
// back: the original is gone with that write, and the game's file stays
// where it is. Keeping the journal for it would refuse every later install
// for ever, and moving it into the store would pass it off as the original.
unsigned long PutBackIntoStore(const std::wstring& full, const std::wstring& original, bool copied,
                               const FileHash* recorded = nullptr) {
    if (copied && !DeleteStep(CopyPath(full))) return GetLastError();
    if (!IsFile(full)) return 0;
    // Copied in: the copy goes, while its bytes are the original's.
    if (Exists(original)) return !copied || !SameBytes(full, original) || DeleteStep(full) ? 0 : GetLastError();
    if (recorded) {
        FileHash now;
        const HashResult read = HashOriginal(full, &now);
        if (read == HashResult::Unreadable) return GetLastError();
        if (read != HashResult::Hashed || now != *recorded) return 0;
    }
    return RenameStep(full, original) ? 0 : GetLastError();
}

const KeptOriginal* KeptFor(const JournalContents& j, const std::wstring& relative) {
    for (const KeptOriginal& k : j.kept)
        if (k.relative == relative) return &k;
    return nullptr;
}

// After DONE, from the journal's names: every step still to do, done. The
// set-aside originals are deleted or kept in the store, the store's record
// replaced; or, for an undo, ours are deleted, the folders our installs
// made and then the store removed. False, with the failure, while anything
// is left: the journal stays for the next recovery.
bool FinishAfterDone(const std::wstring& folder, const JournalContents& j, InstallFailure* failure) {
    bool clean = true, keptAll = true;
    const std::wstring store = StoreFolder(folder);
    const bool ordered = !j.copies;  // as the run that wrote the journal found its volume
    for (const SwapEntry& s : j.swapped) {
        const std::wstring full = folder + L"\\" + s.relative, staged = StagedPath(full);
        // Its move in lost (where renames keep no order, by a power cut): ours goes in now.
        if (IsFile(staged) && !Exists(full) && !RenameStep(staged, full))
            clean = NoteFailure(failure, GetLastError(), s.relative + kStagedSuffix);
        if (!s.replaces) continue;
        const KeptOriginal* kept = KeptFor(j, s.relative);
        const std::wstring aside = AsidePath(full);
        const unsigned long error = kept ? KeepOriginal(folder, s.relative, kept->kept, ordered)
                                         : (DeleteStep(aside) ? 0 : GetLastError());
        if (error) clean = NoteFailure(failure, error, s.relative + kAsideSuffix);
        if (error && kept) keptAll = false;
    }
    // An undo's drops come first: one that finds the Game file patched or
    // held since the undo looked keeps the store's copy, and then the record
    // from before the undo, which names it, stays as it is (the staged one,
    // and Z, would leave that copy named by nothing, and every later install
    // of that file refused as a damaged store).
    bool dropsLeft = false;
    const auto dropIfStands = [&](const std::wstring& relative) {
        if (const unsigned long error = DropIfStandsAgain(folder, store, relative))
            clean = NoteFailure(failure, error, StoreRelative(L"originals\\" + relative));
        if (Exists(OriginalPath(store, relative))) dropsLeft = true;
    };
    for (const auto* names : {&j.undo.restore, &j.undo.remove})
        for (const std::wstring& relative : *names)
            if (!DeleteStep(StagedPath(folder + L"\\" + relative)))
                clean = NoteFailure(failure, GetLastError(), relative + kStagedSuffix);
    // Where renames keep no order an original was copied back, not moved: the
    // store's copy goes now, while its bytes stand in Game (else it stays).
    if (!ordered)
        for (const auto* names : {&j.undo.restore, &j.undo.putBack})
            for (const std::wstring& relative : *names) dropIfStands(relative);
    for (const std::wstring& relative : j.undo.drop)
        if (const unsigned long error = DropOriginal(store, relative))
            clean = NoteFailure(failure, error, StoreRelative(L"originals\\" + relative));
    for (const std::wstring& relative : j.undo.asBefore) dropIfStands(relative);
    // Only once every original is in the store does the record say so.
    if (j.store && keptAll && !dropsLeft)
        if (const unsigned long error = ReplaceRecord(store, ordered)) clean = NoteFailure(failure, error, StoreRelative(L"record.txt"));
    if (dropsLeft)
        if (const unsigned long error = DropStagedRecord(store)) clean = NoteFailure(failure, error, StoreRelative(L"record.txt"));
    for (auto it = j.undo.folders.rbegin(); it != j.undo.folders.rend(); ++it) RemoveFolderStep(folder + L"\\" + *it);
    if (j.removeStore && !dropsLeft)
        if (const unsigned long error = RemoveStore(store, ordered)) clean = NoteFailure(failure, error, StoreRelative());
    return clean;
}

bool Contains(const std::vector<std::wstring>& paths, const std::wstring& path) {
    return std::find(paths.begin(), paths.end(), path) != paths.end();
}

// Where renames keep no order: every folder whose entries the journal's
// steps may have changed, confirmed on disk, each once (a removed one in
// its parent). Before DONE, and before the journal goes, so that neither
// reaches the disk ahead of what it stands for.
bool FlushChangedFolders(const std::wstring& folder, const JournalContents& j, InstallFailure* failure) {
    const std::wstring store = StoreFolder(folder);
    std::vector<std::wstring> folders;
    const auto add = [&](const std::wstring& path) {
        const std::wstring parent = ParentFolder(path);
        if (!Contains(folders, parent)) folders.push_back(parent);
    };
    for (const auto* names : {&j.staged, &j.folders, &j.undo.restore, &j.undo.remove, &j.undo.putBack, &j.undo.folders})
        for (const std::wstring& relative : *names) add(folder + L"\\" + relative);
    for (const SwapEntry& s : j.swapped) add(folder + L"\\" + s.relative);
    for (const KeptOriginal& k : j.kept) add(OriginalPath(store, k.kept));
    for (const auto* names : {&j.undo.restore, &j.undo.putBack, &j.undo.drop, &j.undo.asBefore})
        for (const std::wstring& relative : *names) add(OriginalPath(store, relative));
    if (j.store) add(RecordPath(store)), add(store);
    for (const std::wstring& f : folders) {
        if (!Exists(f) || FlushFolderStep(f)) continue;
        // Named as a failure names it: relative to Game.
        const auto under = [&](const std::wstring& base) {
            return f.compare(0, base.size() + 1, base + L"\\") == 0 ? f.substr(base.size() + 1) : std::wstring();
        };
        const std::wstring relative = f.compare(0, store.size(), store) == 0 ? StoreRelative(under(store))
                                      : f.size() < folder.size()             ? std::wstring(L"..")
                                                                             : under(folder);
        return NoteFailure(failure, GetLastError(), relative);
    }
    return true;
}

}  // namespace

InstallSwap::~InstallSwap() {
    if (open_) RollBack();
}

bool InstallSwap::Append(InstallStep step, const std::string& lines, bool flush, InstallFailure* failure) {
    // The flush is a step of its own, which the hook sees like every other.
    if (WriteStep(step, journal_.get(), lines.data(), DWORD(lines.size()), JournalPath(folder_)) &&
        (!flush || (TellStep(InstallStep::Flush, JournalPath(folder_)) &&
                    (!DurableWrites() || FlushFileBuffers(journal_.get()))))) {
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

// A new journal with its first lines, over none: one not yet put right
// would forget where its originals went.
bool InstallSwap::StartJournal(const std::string& lines, bool flush, InstallFailure* failure) {
    InstallFailure earlier;
    if (!RecoverInterruptedInstall(folder_, &earlier)) {
        if (failure && failure->problem == InstallProblem::None) *failure = RefusedOver(earlier);
        return false;
    }
    ordered_ = RenamesLoggedInOrder(folder_);
    const std::wstring journal = JournalPath(folder_);
    // Never over one that appeared meanwhile (another instance's install):
    // its owner would delete ours when it ends.
    journal_.reset(CreateFileStep(journal, CREATE_NEW, FILE_SHARE_READ));
    if (!journal_) return NoteFailure(failure, GetLastError(), kJournalName);
    open_ = true;
    journalSize_ = 0;
    // The way this run moves originals across folders is the recovery's too,
    // whatever the volume answers later (a folder handle that cannot be
    // opened makes it answer "no order").
    if (Append(InstallStep::Journal, kJournalHeader + std::string(ordered_ ? "" : "C\n") + lines, flush, failure))
        return true;
    journal_.reset();
    open_ = false;
    DeleteStep(journal);  // nothing was done yet
    return false;
}

bool InstallSwap::Begin(const std::vector<std::wstring>& files, InstallFailure* failure) {
    std::string lines;
    for (const std::wstring& f : files) lines += "S " + WideToUtf8(f) + "\n";
    // Not flushed: renames come only after a flush, so a power cut that
    // loses these lines leaves staged files alone, which the next install
    // of the same files removes.
    return StartJournal(lines, false, failure);
}

bool InstallSwap::NoteCreatedFolder(const std::wstring& relative, InstallFailure* failure) {
    // Where renames keep no order, on disk before the folder is: else it could outlive a lost line.
    if (!Append(InstallStep::Journal, "D " + WideToUtf8(relative) + "\n", !ordered_, failure)) return false;
    folders_.push_back(relative);
    listing_.Made(relative);
    return true;
}

// A file of our names that no journal names. A staged one is deleted; a
// set-aside one is the player's and stays: the install refuses and names
// it, as it does where a delete fails.
bool InstallSwap::RemoveLeftover(const std::wstring& relative, InstallFailure* failure) {
    if (listing_.Attributes(relative) == INVALID_FILE_ATTRIBUTES) return true;
    const DWORD a = GetFileAttributesW(Full(relative).c_str());
    if (a == INVALID_FILE_ATTRIBUTES) return true;
    const bool staged = relative.size() >= kSuffixLength &&
                        relative.compare(relative.size() - kSuffixLength, kSuffixLength, kStagedSuffix) == 0;
    if (!staged && !(a & FILE_ATTRIBUTE_DIRECTORY)) return NoteStrayOriginal(failure, relative);
    if (staged && !(a & FILE_ATTRIBUTE_DIRECTORY) && DeleteStep(Full(relative))) return true;
    // A folder of that name is nobody's leftover of ours: it stays, and blocks.
    return NoteFailure(failure, (a & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_ALREADY_EXISTS : GetLastError(), relative);
}

DWORD InstallSwap::Existing(const std::wstring& relative) {
    const DWORD there = listing_.Attributes(relative);
    const std::wstring aside = AsidePath(relative);
    if (there != INVALID_FILE_ATTRIBUTES || listing_.Attributes(aside) == INVALID_FILE_ATTRIBUTES) return there;
    const DWORD a = GetFileAttributesW(Full(aside).c_str());
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY)) return there;
    // Where it cannot go back, CreateStaged refuses and names it.
    if (!RenameStep(Full(aside), WithoutSuffix(Full(aside)))) return there;
    listing_.Note(aside, INVALID_FILE_ATTRIBUTES);
    listing_.Note(relative, a);
    return a;
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

void InstallSwap::AddStaged(ScopedFile file, const std::wstring& relative, bool replaces,
                            const FileHash* installed) {
    flusher_.Add(std::move(file), StagedPath(Full(relative)));
    File f;
    f.relative = relative;
    f.replaces = replaces;
    f.hashed = installed != nullptr;
    if (installed) f.installed = *installed;
    files_.push_back(f);
}

void InstallSwap::KeepOriginals(int entry, const Text& word) {
    keep_ = true;
    entry_ = entry;
    word_ = word;
}

// What the store needs to know of each staged file, read before the swap
// (our staged files: nobody else writes them).
bool InstallSwap::CollectSwapped(std::vector<SwappedFile>* swapped, InstallFailure* failure) {
    for (File& f : files_) {
        if (!f.hashed) {
            // Told nothing of what it holds: read once more, after the flushes.
            std::wstring unflushed;
            unsigned long error = 0;
            if (!flusher_.Finish(&unflushed, &error)) return NoteFailure(failure, error, f.relative);
            if (HashFile(StagedPath(Full(f.relative)), &f.installed) != HashResult::Hashed)
                return NoteFailure(failure, GetLastError(), f.relative);
            f.hashed = true;
        }
        // The time it was given is the time it goes in with: a rename keeps it.
        WIN32_FILE_ATTRIBUTE_DATA data;
        std::uint64_t written = 0;
        if (GetFileAttributesExW(StagedPath(Full(f.relative)).c_str(), GetFileExInfoStandard, &data))
            written = (std::uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
        swapped->push_back({f.relative, f.replaces, f.installed, written});
    }
    return true;
}

// After the swap, before DONE: works out the store's record and which
// originals it keeps from the set-aside files themselves (a file the game
// patched right before it was set aside is kept as it is, under its own
// hash), says in the journal that the store takes part, stages the record
// there and puts it on disk. The K lines are left in `lines`.
bool InstallSwap::PrepareStore(const std::vector<SwappedFile>& swapped, std::string* lines, InstallFailure* failure) {
    BackupRecord record;
    std::vector<KeptOriginal> kept;
    if (!PlanRecord(folder_, swapped, folders_, entry_, word_, &record, &kept, failure)) return false;
    const std::wstring store = StoreFolder(folder_);
    const bool make = GetFileAttributesW(store.c_str()) == INVALID_FILE_ATTRIBUTES;
    // Named before the store is touched, so that a roll-back finds what to undo.
    if (!Append(InstallStep::Journal, make ? "T\nM\n" : "T\n", !ordered_, failure)) return false;
    recordStaged_ = true;
    if (make) {
        storeMade_ = true;
        if (!MakeFolderStep(store)) return NoteFailure(failure, GetLastError(), StoreRelative());
    }
    ScopedFile written;
    if (const unsigned long error = StageRecord(store, record, &written))
        return NoteFailure(failure, error, StoreRelative(L"record.txt"));
    // On disk before DONE: the record goes live only after it.
    if (!TellStep(InstallStep::Flush, StagedRecordPath(store)) || (DurableWrites() && !FlushFileBuffers(written.get())))
        return NoteFailure(failure, GetLastError(), StoreRelative(L"record.txt"));
    for (const KeptOriginal& k : kept) *lines += "K " + WideToUtf8(k.relative) + "|" + WideToUtf8(k.kept) + "\n";
    return true;
}

bool InstallSwap::AdoptStaged(const std::wstring& relative, InstallFailure* failure, const FileHash* installed) {
    const std::wstring full = Full(relative);
    Existing(relative);  // a set-aside original of it goes back first, where it can
    if (!RemoveLeftover(AsidePath(relative), failure)) return false;
    // With write access: the flush needs it. Nobody but a virus scanner
    // knows a staged file, and one may be reading it since it was closed:
    // worth waiting longer for than for a file the game holds.
    ScopedFile file;
    const bool opened = RetryWhileInUse([&] {
        file.reset(CreateFileW(StagedPath(full).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        return bool(file);
    }, 1600);
    if (!opened) return NoteFailure(failure, GetLastError(), relative);
    created_.push_back(relative);
    // A folder of that name is not set aside: the move in fails, and the swap rolls back.
    AddStaged(std::move(file), relative, IsFile(full), installed);
    return true;
}

bool InstallSwap::FailFlush(const std::wstring& stagedPath, unsigned long error, InstallFailure* failure) {
    const std::size_t suffix = sizeof kStagedSuffix / sizeof kStagedSuffix[0] - 1;
    if (stagedPath.compare(0, folder_.size() + 1, folder_ + L"\\") != 0)
        NoteFailure(failure, error, StoreRelative(L"record.txt"));  // the one staged file outside the folder
    else
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
    std::vector<SwappedFile> swapped;
    if (keep_ && !CollectSwapped(&swapped, failure)) {
        RollBack(failure);
        return false;
    }
    // A folder inside Game may be a link onto another volume: its originals
    // would be set aside and then never reach the store. Refused while
    // nothing has changed, naming the folder.
    if (keep_) {
        // The store's volume looked up once, not once for each folder.
        unsigned long storeVolume = 0, volume = 0;
        const bool storeKnown = VolumeOf(ParentFolder(StoreFolder(folder_)), &storeVolume);
        std::vector<std::wstring> checked;
        for (const File& f : files_) {
            if (!f.replaces) continue;
            const std::size_t slash = f.relative.find_last_of(L'\\');
            const std::wstring relative = slash == std::wstring::npos ? std::wstring() : f.relative.substr(0, slash);
            // Game's own volume is the store's (PlanRecord checks it, before DONE).
            if (relative.empty() || Contains(checked, relative)) continue;
            checked.push_back(relative);
            if (storeKnown && VolumeOf(Full(relative), &volume) && volume != storeVolume) {
                if (failure && failure->problem == InstallProblem::None) {
                    failure->problem = InstallProblem::OtherVolume;
                    failure->error = ERROR_NOT_SAME_DEVICE;
                    failure->relativePath = relative;
                }
                RollBack(failure);
                return false;
            }
        }
    }
    std::string lines;
    for (const File& f : files_) {
        lines += (f.replaces ? "W " : "N ") + WideToUtf8(f.relative) + "\n";
        // What goes in under the name: a roll-back after a crash leaves a file the game wrote since.
        if (f.hashed) {
            char hash[40];
            wsprintfA(hash, "|%08lx:", static_cast<unsigned long>(f.installed.crc));
            lines += "H " + WideToUtf8(f.relative) + hash + std::to_string(f.installed.size) + "\n";
        }
    }
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
            if (!RenameStep(full, AsidePath(AsOnDisk(full)))) {
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
    if (keep_) {
        // Each K line on disk before DONE, in a flush of its own: a DONE that
        // reached the disk without it would have the original deleted.
        std::string kept;
        if (!PrepareStore(swapped, &kept, failure) ||
            (!kept.empty() && !Append(InstallStep::Journal, kept, true, failure))) {
            RollBack(failure);
            return false;
        }
    }
    if (!flusher_.Finish(&unflushed, &error)) return FailFlush(unflushed, error, failure);
    if (!FlushBeforeDone(failure) || !Append(InstallStep::JournalDone, "DONE\n", true, failure)) {
        RollBack(failure);
        return false;
    }
    open_ = false;
    // From here on only forward, the way a recovery goes: from the journal.
    // It stays while anything could not be done yet (a set-aside original
    // held): the next recovery finishes, and the failure says where it stopped.
    FinishFromJournal(failure);
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
        if (const unsigned long error = PutBack(full, f.replaces, &afterJournal, f.hashed ? &f.installed : nullptr)) {
            clean = false;
            NoteUnrestored(failure, error, f.relative);
        }
    }
    for (const std::wstring& relative : created_) {
        const std::wstring staged = StagedPath(Full(relative));
        if (!Contains(afterJournal, staged)) clean = DeleteStep(staged) && clean;
    }
    for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) RemoveFolderStep(Full(*it));
    if (recordStaged_) clean = DropStagedRecord(StoreFolder(folder_)) == 0 && clean;
    if (storeMade_) RemoveFolderStep(StoreFolder(folder_));
    clean = clean && FlushBeforeJournalGoes();
    // Held open until here, so that no other instance's recovery works on the same files at once.
    journal_.reset();
    // Kept while anything is left: the next recovery finishes from the names on disk.
    if (clean && DeleteStep(JournalPath(folder_)))
        for (const std::wstring& staged : afterJournal) DeleteStep(staged);
    files_.clear();
    created_.clear();
    folders_.clear();
    recordStaged_ = storeMade_ = false;
}

// Whether the file an undo has just set aside under our staged name still
// holds what we wrote (the game may have written it since the plan looked).
static bool StillOurs(const std::wstring& staged, const FileHash& installed) {
    FileHash now;
    return HashOriginal(staged, &now) == HashResult::Hashed && now == installed;
}

bool InstallSwap::Undo(const UndoPlan& plan, std::vector<RecordedFile>* changed, InstallFailure* failure) {
    std::string lines = plan.keepStore ? "T\n" : "T\nZ\n";
    for (const std::wstring& r : plan.restore) lines += "U " + WideToUtf8(r) + "\n";
    for (const std::wstring& p : plan.putBack) lines += "P " + WideToUtf8(p) + "\n";
    for (const std::wstring& x : plan.remove) lines += "X " + WideToUtf8(x) + "\n";
    for (const std::wstring& g : plan.folders) lines += "G " + WideToUtf8(g) + "\n";
    for (const std::wstring& y : plan.drop) lines += "Y " + WideToUtf8(y) + "\n";
    for (const std::wstring& a : plan.asBefore) lines += "A " + WideToUtf8(a) + "\n";
    // On disk before the first rename: a recovery must know every name.
    if (!StartJournal(lines, true, failure)) return false;
    const std::wstring store = StoreFolder(folder_);
    std::size_t restored = 0, putBack = 0, removed = 0;
    const auto fail = [&](const std::wstring& relative) {
        NoteFailure(failure, GetLastError(), relative);
        RollBackUndo(plan, restored, putBack, removed, failure);
        return false;
    };
    // The record of what the store still keeps, on disk before DONE; it
    // replaces the store's only after DONE.
    const auto stageRecord = [&](const BackupRecord& record) {
        ScopedFile written;
        if (const unsigned long error = StageRecord(store, record, &written)) return SetLastError(error), false;
        return TellStep(InstallStep::Flush, StagedRecordPath(store)) &&
               (!DurableWrites() || FlushFileBuffers(written.get()));
    };
    if (plan.keepStore && !stageRecord(plan.record)) return fail(StoreRelative(L"record.txt"));
    BackupRecord keeps = plan.record;
    for (std::size_t i = 0; i < plan.restore.size(); ++i) {
        const std::wstring& r = plan.restore[i];
        const std::wstring full = Full(r), staged = StagedPath(AsOnDisk(full));
        // Ours out under our name first, then the original into its place.
        if (!RenameStep(full, staged)) return fail(r);
        ++restored;
        if (!StillOurs(staged, plan.restored[i].installed)) {
            // The game's now: it stays, and so does its original.
            if (!RenameStep(staged, WithoutSuffix(staged))) return fail(r);
            changed->push_back(plan.restored[i]);
            keeps.files.push_back(plan.restored[i]);
            continue;
        }
        if (!BringBack(OriginalPath(store, r), full)) return fail(r);
    }
    for (const std::wstring& p : plan.putBack) {
        ++putBack;
        if (!BringBack(OriginalPath(store, p), Full(p))) return fail(p);
    }
    for (std::size_t i = 0; i < plan.remove.size(); ++i) {
        const std::wstring& x = plan.remove[i];
        const std::wstring full = Full(x), staged = StagedPath(AsOnDisk(full));
        if (!RenameStep(full, staged)) return fail(x);
        ++removed;
        if (!StillOurs(staged, plan.removed[i].installed)) {
            if (!RenameStep(staged, WithoutSuffix(staged))) return fail(x);
            changed->push_back(plan.removed[i]);
        }
    }
    if (keeps.files.size() != plan.record.files.size()) {
        // Originals the store must keep after all: its record names them, and it stays.
        if (!stageRecord(keeps)) return fail(StoreRelative(L"record.txt"));
        if (!plan.keepStore && !Append(InstallStep::Journal, "Q\n", true, failure)) {
            RollBackUndo(plan, restored, putBack, removed, failure);
            return false;
        }
    }
    if (!FlushBeforeDone(failure) || !Append(InstallStep::JournalDone, "DONE\n", true, failure)) {
        RollBackUndo(plan, restored, putBack, removed, failure);
        return false;
    }
    open_ = false;
    FinishFromJournal(failure);
    return true;
}

void InstallSwap::FinishFromJournal(InstallFailure* failure) {
    ForgetInstalledReadings();  // what stands in Game is ours now, or the originals
    // Still held open for writing meanwhile: a second instance's recovery
    // then refuses rather than take the same steps at once (two that both
    // move an original into the store: one deletes what the other moved in).
    JournalContents done;
    unsigned long error = 0;
    InstallFailure stopped;
    bool finished = ReadOwnJournal(folder_, &done, &error)
                        ? done.done && FinishAfterDone(folder_, done, &stopped) &&
                              (ordered_ || FlushChangedFolders(folder_, done, &stopped))
                        : NoteFailure(&stopped, error, kJournalName);
    journal_.reset();
    if (finished && !DeleteStep(JournalPath(folder_))) finished = NoteFailure(&stopped, GetLastError(), kJournalName);
    // The change stands all the same: the caller tells it, and what is left.
    if (!finished && failure && failure->unfinishedPath.empty()) {
        failure->unfinishedPath = stopped.relativePath.empty() ? std::wstring(kJournalName) : stopped.relativePath;
        failure->unfinishedError = stopped.error;
    }
}

// Only the files this undo touched go back; the others never moved.
void InstallSwap::RollBackUndo(const UndoPlan& plan, std::size_t restored, std::size_t putBack,
                               std::size_t removed, InstallFailure* failure) {
    open_ = false;
    const std::wstring store = StoreFolder(folder_);
    bool clean = true;
    for (std::size_t i = 0; i < restored; ++i)
        if (const unsigned long error = PutBackUndone(Full(plan.restore[i]), OriginalPath(store, plan.restore[i]), !ordered_)) {
            clean = false;
            NoteUnrestored(failure, error, plan.restore[i]);
        }
    for (std::size_t i = 0; i < putBack; ++i)
        if (const unsigned long error =
                PutBackIntoStore(Full(plan.putBack[i]), OriginalPath(store, plan.putBack[i]), !ordered_,
                                 i < plan.putBackFiles.size() && plan.putBackFiles[i].original
                                     ? &*plan.putBackFiles[i].original
                                     : nullptr)) {
            clean = false;
            NoteUnrestored(failure, error, plan.putBack[i]);
        }
    for (std::size_t i = 0; i < removed; ++i)
        if (const unsigned long error = PutBackUndone(Full(plan.remove[i]), std::wstring(), false)) {
            clean = false;
            NoteUnrestored(failure, error, plan.remove[i]);
        }
    clean = DropStagedRecord(store) == 0 && clean;
    clean = clean && FlushBeforeJournalGoes();
    // Held open until here, so that no other instance's recovery works on the same files at once.
    journal_.reset();
    if (clean) DeleteStep(JournalPath(folder_));
}

bool InstallSwap::FlushBeforeDone(InstallFailure* failure) {
    if (ordered_) return true;
    JournalContents j;
    unsigned long error = 0;
    if (!ReadOwnJournal(folder_, &j, &error)) return NoteFailure(failure, error, kJournalName);
    return FlushChangedFolders(folder_, j, failure);
}

bool InstallSwap::FlushBeforeJournalGoes() { return FlushBeforeDone(nullptr); }

bool InstallSwap::BringBack(const std::wstring& original, const std::wstring& full) {
    // The store's original stays until after DONE: a copy never leaves it in neither folder.
    if (ordered_) return RenameStep(original, full);
    const unsigned long error = CopyDurably(original, full, false);
    return error == 0 || (SetLastError(error), false);
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
    ScopedFile held;
    if (!RetryWhileInUse([&] { return held.reset(OpenJournalForRecovery(journal)), bool(held); }, 375)) {
        const unsigned long error = GetLastError();
        // Another recovery finished it meanwhile.
        return !Exists(journal) || NoteFailure(failure, error, kJournalName);
    }
    JournalContents j;
    unsigned long error = 0;
    if (!ReadJournalFile(held.get(), folder, &j, &error)) return NoteFailure(failure, error, kJournalName);
    const bool ordered = !j.copies;  // as the run that wrote the journal found its volume
    // The new files stand: the originals set aside go, or into the store.
    bool clean = !j.done || FinishAfterDone(folder, j, failure);
    const std::wstring store = StoreFolder(folder);
    std::vector<std::wstring> afterJournal;
    const auto putBack = [&](const std::wstring& relative, unsigned long error) {
        if (!error) return;
        clean = false;
        NoteUnrestored(failure, error, relative);
    };
    if (!j.done) {
        for (const SwapEntry& s : j.swapped)
            putBack(s.relative,
                    PutBack(folder + L"\\" + s.relative, s.replaces, &afterJournal, s.known ? &s.installed : nullptr));
        // An undo cut short: each file as it was before it.
        for (const std::wstring& r : j.undo.restore)
            putBack(r, PutBackUndone(folder + L"\\" + r, OriginalPath(store, r), !ordered));
        for (const std::wstring& x : j.undo.remove) putBack(x, PutBackUndone(folder + L"\\" + x, std::wstring(), false));
        // The store's record is still the one from before the undo: it names each original's bytes.
        BackupRecord record;
        const bool recorded = !j.undo.putBack.empty() && ReadRecord(store, &record) == RecordRead::Read;
        for (const std::wstring& p : j.undo.putBack) {
            const RecordedFile* f = recorded ? FindRecorded(record, p) : nullptr;
            putBack(p, PutBackIntoStore(folder + L"\\" + p, OriginalPath(store, p), !ordered,
                                        f && f->original ? &*f->original : nullptr));
        }
    }
    for (const std::wstring& relative : j.staged) {
        const std::wstring staged = StagedPath(folder + L"\\" + relative);
        if (!Contains(afterJournal, staged) && !DeleteStep(staged))
            clean = NoteFailure(failure, GetLastError(), relative + kStagedSuffix);
    }
    if (!j.done) {
        // Deepest first; a folder that holds anything else stays.
        for (auto it = j.folders.rbegin(); it != j.folders.rend(); ++it) RemoveFolderStep(folder + L"\\" + *it);
        if (j.store)
            if (const unsigned long e = DropStagedRecord(store)) clean = NoteFailure(failure, e, StoreRelative(L"record.txt"));
        if (j.storeMade) RemoveFolderStep(store);
    }
    if (!clean || (!ordered && !FlushChangedFolders(folder, j, failure))) return false;
    if (!DeleteHeldStep(held.get(), journal)) return NoteFailure(failure, GetLastError(), kJournalName);
    held.reset();
    // Left behind only by a kill right here: the next install of that name removes it.
    for (const std::wstring& staged : afterJournal) DeleteStep(staged);
    return true;
}
