// All-or-nothing replacement of a set of files in one folder, that a crash, a
// power cut or a file held by the game can cut short at any point and that
// is always finished or undone later.
//
// Names on disk. Every new file is first staged beside its target as
// "<name>.velmora-new". When all are staged, each existing target is set
// aside as "<name>.velmora-old" and the staged file is moved into its place.
// Undoing one file runs the same way back: the new file is renamed to
// "<name>.velmora-new" again, and only then the set-aside original moved
// into its place, so that at every instant the names say what each file is:
// ".velmora-old" is always the player's original, ".velmora-new" always ours,
// and a file under its own name is ours only while its ".velmora-old" stands
// beside it (or, for a file where none stood, while the journal says so).
//
// The journal ("velmora-install.velmora-journal" in the folder) says which
// names belong to the install, one line each:
//   VELMORA-JOURNAL 4
//   C          the volume keeps no order of its changes (see below): the
//              recovery moves originals as this run did, by copying
//   S <name>   may be staged (all of them, before the first is)
//   D <name>   a folder about to be made for the install
//   W <name>   to be swapped; an original stands there and is set aside first
//   N <name>   to be swapped; no file stood there
//   H <name>|<crc>:<size>  what goes in under <name> (an older release skips
//              it): a roll-back leaves a file there that holds anything else,
//              the game's since, and its set-aside original beside it
//   DONE       every swap is done: the set-aside originals may go
// A recovery reads it and never writes it, and holds it open, shared with
// readers only, until it deletes it: two recoveries never run at once. It
// rolls back (before DONE) or deletes the set-aside originals (after DONE),
// each step again resumable, and deletes the journal only when every file
// is right. A put-back original is never deleted later, because an original
// is only ever renamed.
//
// The backup store beside the folder (BackupStore.h) takes part in a game's
// install and in the undo of its installs through these lines:
//   T          the store takes part: its staged record may stand
//   M          the store's folder is made by this install
//   K <name>|<kept>  after DONE the set-aside original of <name> is not
//              deleted but moved into the store as <kept>; then the staged
//              record replaces the store's
//   U <name>   undo: ours is renamed "<name>.velmora-new", then the original
//              kept for <name> is moved back from the store into its place
//   X <name>   undo: ours is renamed "<name>.velmora-new"; no file stood there
//   P <name>   undo: nothing stands at <name>: the original kept for it is
//              moved back from the store into its place
//   G <name>   undo: a folder our installs made, removed after DONE when empty
//   Y <name>   undo: after DONE the original kept for <name> is deleted (the
//              player was told it goes)
//   A <name>   undo: after DONE the original kept for <name> is deleted while
//              its bytes still stand at <name>, checked with that file held
//              open against writers and renames; else it stays in the store
// (Version 4: A is new and Y no longer covers it. A release that knows only 3
// leaves such a journal alone instead of finishing it by its older meaning.)
//   Z          undo: after DONE the record and the store's empty folders go
//   Q          undo: the store stays after all (a file the game patched
//              while the undo set it aside keeps its original there)
// An undo says T first: a staged record naming the originals the store
// still keeps may stand, and replaces the store's after DONE unless Z.
// Before DONE nothing in the store but the staged record changes, and a
// roll-back moves every original it took out back in; after DONE each step
// finds from the names on disk whether it is still to do.
//
// Power loss. NTFS (and ReFS) log renames and deletions and bring them to
// disk in the order they were made, but not a file's bytes. So: the W/N
// lines are flushed before the first rename, each staged file's bytes
// before the rename that makes it live, and the DONE line before the first
// set-aside original is deleted. Staged files are flushed by workers while
// the next ones are written and the first ones are swapped, so the flushes
// cost little more than the last one (see FileFlusher.h for the cheaper
// flush that Windows 8 on allows, where all are done before the journal's
// flush).
//
// FAT, FAT32 and exFAT (USB disks, some game drives; Volume.h tells them)
// keep no such order: each folder's entries go back to disk from the cache
// whenever, a rename into another folder is two writes in two folders, and
// a rename over a file a delete and a rename. What a flush confirms is all
// that holds there: a file's flush its bytes and its entry, a folder's
// flush (FlushFolder) every entry in it made so far. So on such a volume,
// and only there (NTFS pays nothing of it):
//  - every journal line is flushed as it is written (D before its folder
//    is made, T and M before the store is touched), so that nothing on disk
//    outlives the line that names it;
//  - before DONE, every folder the journal's steps changed so far is
//    flushed, each once (Game's folders that were renamed in, the folders
//    made, the store with the staged record): DONE never reaches the disk
//    ahead of a move in that a recovery after it takes as done;
//  - before the journal is deleted, the same for every folder that the
//    steps after DONE (or a roll-back) changed: a deletion or a move into
//    the store is on disk before the journal that tells how to finish it
//    is gone;
//  - an original never changes folders by a rename: into the store (K) and
//    back (U, P) it is copied, and its source deleted only once the copy
//    stands under its name and that folder is flushed (DurableMove.h). The
//    undo leaves the store's original where it is until after DONE, where
//    it goes only while its bytes stand in Game (as A's do); a roll-back
//    deletes a copy only while its bytes still stand in the store;
//  - the record is replaced in three renames, each on disk before the
//    next: record.txt to "record.txt.velmora-old", the staged record to
//    record.txt, then the old one deleted; ReadRecord reads the set-aside
//    one while record.txt is missing, so one whole record always stands;
//  - after DONE, a staged file whose name has nothing under it (its move
//    in lost) goes in rather than being deleted.
// A rename within one folder is taken as whole: its entries are one write
// of that folder. A folder flush that fails stops the swap before DONE
// (rolled back, naming the folder), or leaves the journal for the next
// recovery after it.
//
// Leftovers. An install never uses a file it did not create: before a file
// is staged, a ".velmora-new" beside it that no journal names (left by a
// crash whose journal was lost, an older version, or anyone) is deleted,
// or, where that fails, the install refuses and names it. A ".velmora-old"
// that no journal names is the player's original whose journal was lost (a
// cleaner, a repair tool, a power cut): it is never deleted. Where its name
// is free it goes back under it (and is then replaced and kept like any
// original); where not, the install refuses and names it.
// A roll-back undoes only the renames this run made.
#pragma once

#include <string>
#include <vector>

#include "runtime/ScopedHandle.h"
#include "runtime/Text.h"
#include "install/BackupRecord.h"
#include "install/FileFlusher.h"
#include "install/FileHash.h"
#include "install/FolderListing.h"
#include "install/InstallFailure.h"
#include "install/InstallSteps.h"
#include "install/SwapJournal.h"

struct SwappedFile;  // KeepOrDelete.h

// One install into one folder (an extended path, see LongPath.h). Names are
// relative to it. Use: Begin, then NoteCreatedFolder before each folder made
// and CreateStaged + AddStaged (or AdoptStaged) for each file, then Commit.
// Anything not committed is rolled back when the object goes. Or: Undo.
class InstallSwap {
public:
    explicit InstallSwap(std::wstring folder) : folder_(std::move(folder)), listing_(folder_) {}
    ~InstallSwap();
    InstallSwap(const InstallSwap&) = delete;
    InstallSwap& operator=(const InstallSwap&) = delete;

    // Finishes or rolls back an earlier install cut short in the folder, then
    // starts this one's journal with every file that may be staged. Refuses
    // (problem Unfinished, naming the game file) while the earlier one
    // cannot be put right.
    bool Begin(const std::vector<std::wstring>& files, InstallFailure* failure);
    // Called before a folder is made: a roll-back removes it again when empty.
    bool NoteCreatedFolder(const std::wstring& relative, InstallFailure* failure);
    // The attributes of what stood at `relative` before this install staged
    // anything beside it (INVALID_FILE_ATTRIBUTES for nothing): each folder
    // is read once. Where nothing stands but a ".velmora-old" that no
    // journal names does, that original goes back under its name first.
    DWORD Existing(const std::wstring& relative);
    // The staged file of `relative`, new and empty, for writing; leftovers of
    // our names beside it are removed first.
    ScopedFile CreateStaged(const std::wstring& relative, InstallFailure* failure);
    // A staged file written in full: it is flushed and closed on a worker.
    // `replaces` says whether a file stood in its place when it was staged;
    // `installed` is what it holds, when known (else it is read if needed).
    void AddStaged(ScopedFile file, const std::wstring& relative, bool replaces,
                   const FileHash* installed = nullptr);
    // A staged file the caller wrote before Begin (the pack archive), to be
    // swapped in with the rest; its set-aside leftover is removed.
    bool AdoptStaged(const std::wstring& relative, InstallFailure* failure, const FileHash* installed = nullptr);
    // Swaps every staged file into place, all or none. On failure everything
    // is rolled back before it returns (see InstallFailure::unrestoredPath).
    // True once the swap is done, even where work after it waits (see
    // InstallFailure::unfinishedPath).
    bool Commit(InstallFailure* failure);
    // Puts back what this run changed and removes what it made.
    void RollBack(InstallFailure* failure = nullptr);
    // Before Commit: the backup store beside the folder takes part. The
    // originals this install replaces for the first time are kept there,
    // and its record is brought up to date, naming this catalogue entry.
    void KeepOriginals(int entry, const Text& word);
    // Takes back every recorded install as the plan says, all or nothing,
    // and removes the store. A file that no longer holds what we wrote once
    // it is set aside (the game wrote it since the plan looked) goes back
    // under its name and is added to `changed`; its original, if any, stays
    // in the store. On failure everything is rolled back first.
    bool Undo(const UndoPlan& plan, std::vector<RecordedFile>* changed, InstallFailure* failure);

    const std::wstring& folder() const { return folder_; }
    std::wstring Full(const std::wstring& relative) const { return folder_ + L"\\" + relative; }

private:
    enum class Progress { Staged, SetAside, Swapped };
    struct File {
        std::wstring relative;
        bool replaces = false;
        Progress progress = Progress::Staged;
        bool hashed = false;
        FileHash installed;
    };
    bool Append(InstallStep step, const std::string& lines, bool flush, InstallFailure* failure);
    bool RemoveLeftover(const std::wstring& relative, InstallFailure* failure);
    // A failed flush of a staged file: noted, and the install rolled back.
    bool FailFlush(const std::wstring& stagedPath, unsigned long error, InstallFailure* failure);
    // The store's part, before the swap and after it (see the .cpp); false with the failure.
    bool CollectSwapped(std::vector<SwappedFile>* swapped, InstallFailure* failure);
    bool PrepareStore(const std::vector<SwappedFile>& swapped, std::string* lines, InstallFailure* failure);
    bool StartJournal(const std::string& lines, bool flush, InstallFailure* failure);
    // After DONE: every step still to do, taken from the journal, which goes
    // when all are done; else the failure's unfinishedPath names where it stopped.
    void FinishFromJournal(InstallFailure* failure);
    void RollBackUndo(const UndoPlan& plan, std::size_t restored, std::size_t putBack, std::size_t removed,
                      InstallFailure* failure);
    // Where renames keep no order (ordered_ false): the folders the journal's
    // steps so far changed, confirmed on disk before DONE, or before the
    // journal goes. True at once elsewhere.
    bool FlushBeforeDone(InstallFailure* failure);
    bool FlushBeforeJournalGoes();
    // An undo's original back from the store into Game: renamed, or where
    // renames keep no order copied (the store's goes after DONE).
    bool BringBack(const std::wstring& original, const std::wstring& full);

    std::wstring folder_;
    FolderListing listing_;
    ScopedFile journal_;
    long long journalSize_ = 0;
    bool open_ = false;
    bool ordered_ = true;  // the folder's file system keeps the order of its renames (Volume.h)
    FileFlusher flusher_;
    std::vector<std::wstring> created_;  // staged files this run created, in order
    std::vector<File> files_;            // staged in full, to swap
    std::vector<std::wstring> folders_;  // made by this run, in order
    // The backup store's part: the entry to record, whether this run made
    // the store's folder, and whether a staged record may stand there.
    bool keep_ = false, storeMade_ = false, recordStaged_ = false;
    int entry_ = 0;
    Text word_;
};

// Finishes or rolls back an install into this folder (an extended path) that
// was cut short, and removes its leftovers. Cheap when there is none: one
// look for the journal. False while something could not be put right: the
// journal stays for the next try, and `failure` names the game file that
// still waits for its original (unrestoredPath), or else what stopped it.
bool RecoverInterruptedInstall(const std::wstring& folder, InstallFailure* failure = nullptr);
// An install refused because the recovery before it failed: with a game file
// still waiting for its original, problem Unfinished naming that file;
// otherwise the recovery's own failure.
InstallFailure RefusedOver(const InstallFailure& recovery);
