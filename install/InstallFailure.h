// What stopped an install, an undo or a recovery, kept for the box that
// tells the player (InstallMessages.h).
#pragma once

#include <string>

// Why an install could not land, for the message the user gets.
// Busy: another Velmora instance is changing the same game folder (FolderLock.h).
// StrayOriginal: a set-aside original that no journal names stands where the
// install would put one of its own, beside a file of that name.
// OtherVolume: a folder of the swap is on another volume than the store (a
// link or a mounted folder inside Game): its originals could not be renamed in.
// AccessDenied: no right to change the file (a protected folder, or files an
// elevated start made, seen by a plain one); WriteProtected: the disk itself
// takes no writes. Neither is mended by closing the game and trying again.
enum class InstallProblem {
    None, InUse, AccessDenied, DiskFull, Damaged, Other, Unfinished, StoreDamaged, Busy, StrayOriginal, OtherVolume,
    WriteProtected
};

struct InstallFailure {
    InstallProblem problem = InstallProblem::None;
    unsigned long error = 0;   // the Win32 error, when there was one
    std::wstring relativePath;  // the file or folder it happened on
    // Set when a roll-back or a recovery could not put every original back:
    // the first game file still waiting for its original, and the Win32
    // error that stopped it. The journal then stays, and the next recovery
    // (at start-up, or before the next install) finishes the work.
    std::wstring unrestoredPath;
    unsigned long unrestoredError = 0;
    // Set when the change itself is in place (its DONE is on disk) but work
    // after it could not be finished: the first file it stopped at (an
    // original held by a scanner or the game, say) and the Win32 error. The
    // journal stays, and the next start, install or undo finishes the work;
    // the problem stays None, as the change did land.
    std::wstring unfinishedPath;
    unsigned long unfinishedError = 0;
};

// Records a failure from a Win32 error code (the first failure wins);
// false, so that a failing step can end with it.
bool NoteFailure(InstallFailure* failure, unsigned long error, const std::wstring& relativePath);
// Records a damaged pack (the first failure wins); false.
bool NoteDamaged(InstallFailure* failure, const std::wstring& relativePath);
// Records a backup store that cannot be trusted (the first failure wins); false.
bool NoteStoreDamaged(InstallFailure* failure, const std::wstring& relativePath);
// Another instance holds the game folder (problem Busy); false, as the others.
bool NoteBusy(InstallFailure* failure);
// A set-aside original that no journal names is in the way (problem StrayOriginal).
bool NoteStrayOriginal(InstallFailure* failure, const std::wstring& relativePath);
