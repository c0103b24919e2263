// All-or-nothing replacement of a set of files in one folder.
//
// Every new file is first staged beside its target as "<name>.velmora-new".
// Only when all are staged does the swap run: each existing target is set
// aside as "<name>.velmora-old" and the staged file moved into its place.
// A journal beside them ("velmora-install.velmora-journal") records what is
// staged, which folders were made, and which files are being swapped, so a
// failed swap, or one cut short by a crash, is rolled back to the old files
// by reading one small file. The set-aside files are deleted only after the
// whole swap succeeded.
#pragma once

#include <string>
#include <vector>

#include "runtime/ScopedHandle.h"

// Why an install could not land, for the message the user gets.
enum class InstallProblem { None, InUse, AccessDenied, DiskFull, Damaged, Other };

struct InstallFailure {
    InstallProblem problem = InstallProblem::None;
    unsigned long error = 0;   // the Win32 error, when there was one
    std::wstring relativePath;  // the file or folder it happened on
};

// Records a failure from a Win32 error code (the first failure wins);
// false, so that a failing step can end with it.
bool NoteFailure(InstallFailure* failure, unsigned long error, const std::wstring& relativePath);
// Records a damaged pack (the first failure wins); false.
bool NoteDamaged(InstallFailure* failure, const std::wstring& relativePath);

std::wstring StagedPath(const std::wstring& path);
std::wstring AsidePath(const std::wstring& path);
std::wstring JournalPath(const std::wstring& folder);

// A staged file to swap in, and whether an old file stood in its place when
// it was staged (then it is set aside first).
struct SwapFile {
    std::wstring relative;
    bool replaces = false;
};

// One install into one folder (an extended path, see LongPath.h). Files and
// folders are relative to it.
class InstallSwap {
public:
    explicit InstallSwap(std::wstring folder) : folder_(std::move(folder)) {}
    // Rolls back whatever has not been committed.
    ~InstallSwap();
    InstallSwap(const InstallSwap&) = delete;
    InstallSwap& operator=(const InstallSwap&) = delete;

    // Starts the journal with every file that will be staged; recovers a
    // journal left by an earlier run first.
    bool Begin(const std::vector<std::wstring>& files, InstallFailure* failure);
    // A folder made for the install: removed again on roll-back when empty.
    bool NoteCreatedFolder(const std::wstring& relative, InstallFailure* failure);
    // Swaps the staged files listed here into place, all or none. On failure
    // everything is rolled back before it returns.
    bool Commit(const std::vector<SwapFile>& files, InstallFailure* failure);
    // Removes the staged files and the folders made, leaving the old files.
    void RollBack();

    const std::wstring& folder() const { return folder_; }
    std::wstring Full(const std::wstring& relative) const { return folder_ + L"\\" + relative; }

private:
    bool Append(const std::string& lines, bool flush, InstallFailure* failure);

    std::wstring folder_;
    ScopedFile journal_;
    bool open_ = false;
};

// For tests: told the number of renames done so far after each rename of a
// swap, so that a test can end the process at any point of it.
void SetSwapStepHook(void (*hook)(int renames));

// Finishes or rolls back an install that a crash interrupted in this folder
// (an extended path), and removes its leftovers. Cheap when there is none:
// one look for the journal. False while something could not be put right
// (a file still held): the journal then stays for the next try.
bool RecoverInterruptedInstall(const std::wstring& folder);
