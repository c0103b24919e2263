// Every change that an install, its roll-back or a recovery makes on disk
// goes through these few functions. Each step is told to a test hook first,
// which may end the process right there (a crash at exactly that point) or
// fail the step with a Win32 error (a full disk, say). Without a hook each is
// the plain Win32 call. Paths are extended paths (see LongPath.h).
#pragma once

#include <windows.h>

#include <string>

enum class InstallStep {
    Create,        // a staged file is created
    Write,         // bytes are written to a staged file
    Flush,         // a staged file's, the staged record's or the journal's bytes are confirmed on disk
    Rename,        // a file changes its name (set aside, moved in, put back)
    Delete,        // a file is deleted
    MakeFolder,    // a folder is made
    RemoveFolder,  // a folder made by an install is removed again
    Journal,       // lines are appended to the journal (it is created as a Create step)
    JournalDone,   // the journal's DONE line is appended
    FlushFolder,   // a folder's entries (its names, made, renamed or deleted) are confirmed on disk
};

// Returns 0 to let the step run, or the Win32 error the step is to fail with.
// `to` is a rename's new name (empty for every other step).
using InstallStepHook = unsigned long (*)(InstallStep step, const std::wstring& path, const std::wstring& to);
void SetInstallStepHook(InstallStepHook hook);

// For measurements only: false skips every flush of the install (staged
// files and journal), so that a benchmark can tell what the flushes cost.
void SetDurableWrites(bool durable);
bool DurableWrites();

// Tells the hook about a step; false, with the hook's error as the last
// error, when the hook fails it.
bool TellStep(InstallStep step, const std::wstring& path, const std::wstring& to = std::wstring());

// Whether a Win32 error means that another program has the file open just
// now (a virus scanner looking at a new file, or the game).
bool InUseError(DWORD error);
// Runs `attempt` (a call that returns true on success and leaves a Win32
// error otherwise) again after growing waits while the file is in use, for
// up to about `patienceMs` in all; the last error stays the attempt's.
template <class Attempt>
bool RetryWhileInUse(Attempt attempt, DWORD patienceMs) {
    for (DWORD wait = 25, waited = 0;; waited += wait, wait *= 2) {
        if (attempt()) return true;
        const DWORD error = GetLastError();
        if (!InUseError(error) || waited + wait > patienceMs) return false;
        Sleep(wait);
        SetLastError(error);
    }
}

// Creates (or opens) a file for writing; INVALID_HANDLE_VALUE on failure.
HANDLE CreateFileStep(const std::wstring& path, DWORD disposition, DWORD share = 0);
// Writes all bytes or fails; a write cut short without an error is a full disk.
bool WriteStep(InstallStep step, HANDLE file, const void* data, DWORD size, const std::wstring& path);
// Renames without replacing anything. A virus scanner opens every new file
// for a moment: a rename that meets one is tried again briefly before it
// counts as a failure. Deletes wait the same way.
bool RenameStep(const std::wstring& from, const std::wstring& to);
// The same over an existing file, in one rename (the backup store's record
// and its originals), lifting read-only, hidden and system off the file
// replaced first (they stop it); it gets them back if the rename fails.
bool ReplaceStep(const std::wstring& from, const std::wstring& to);
// Deletes a file, lifting read-only, hidden and system first (they stop a
// delete). A file that is not there counts as deleted.
bool DeleteStep(const std::wstring& path);
// Deletes a file through `file`, a handle of it opened with DELETE access:
// the name goes when that handle closes, and until then no one can open the
// file (the journal, so that no second recovery reads it in between).
bool DeleteHeldStep(HANDLE file, const std::wstring& path);
bool MakeFolderStep(const std::wstring& path);
// Confirms on disk the entries of a folder (an existing one): on a file
// system that does not keep the order of its changes (see Volume.h), what
// was named, renamed or deleted in it before is on disk before what comes
// after. A folder opened for writing takes FlushFileBuffers (NTFS and FAT).
bool FlushFolderStep(const std::wstring& folder);
// Removes an empty folder; one that holds anything stays (and that is no
// failure), and so does a junction or a link standing in its place.
void RemoveFolderStep(const std::wstring& path);
