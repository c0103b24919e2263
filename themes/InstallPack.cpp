#include "themes/InstallPack.h"

#include <windows.h>

#include <algorithm>

#include "runtime/Encoding.h"
#include "runtime/ScopedHandle.h"
#include "install/FolderLock.h"
#include "install/InstallFailure.h"
#include "install/InstallSteps.h"
#include "install/InstallSwap.h"
#include "install/SwapNames.h"

const wchar_t kPackArchiveName[] = L"wzCAFG.ZIP";

namespace {

// Written under our staged name, new: a leftover of that name goes first.
bool WriteStagedArchive(ByteSpan pack, const std::wstring& path, InstallFailure* failure) {
    if (!DeleteStep(path)) return NoteFailure(failure, GetLastError(), StagedPath(kPackArchiveName));
    ScopedFile out(CreateFileStep(path, CREATE_NEW));
    if (!out) return NoteFailure(failure, GetLastError(), kPackArchiveName);
    for (std::size_t done = 0; done < pack.size;) {
        const DWORD chunk = DWORD(std::min<std::size_t>(pack.size - done, 1u << 20));
        if (!WriteStep(InstallStep::Write, out.get(), pack.data + done, chunk, path))
            return NoteFailure(failure, GetLastError(), kPackArchiveName);
        done += chunk;
    }
    if (!CloseHandle(out.release())) return NoteFailure(failure, GetLastError(), kPackArchiveName);
    return true;
}

}  // namespace

bool RecoverGameFolder(const std::wstring& game, InstallFailure* failure) {
    if (!RecoverInterruptedInstall(game, failure)) return false;
    // Left by an install that ended before its journal began.
    const std::wstring staged = StagedPath(game + L"\\" + kPackArchiveName);
    return DeleteStep(staged) || NoteFailure(failure, GetLastError(), StagedPath(kPackArchiveName));
}

bool InstallPackArchive(ZipComponent* component, ByteSpan pack, const std::wstring& game, int entry,
                        const Text& word) {
    InstallFailure* failure = &component->failure;
    *failure = InstallFailure();
    if (pack.size == 0) return NoteDamaged(failure, L"");
    // Held to the end: no other instance recovers, stages or deletes the
    // staged archive (one name for all of them) while this one works.
    FolderLock lock;
    if (!lock.Take(game, failure)) return false;
    InstallFailure earlier;
    if (!RecoverGameFolder(game, &earlier)) {
        *failure = RefusedOver(earlier);
        return false;
    }
    const std::wstring staged = StagedPath(game + L"\\" + kPackArchiveName);
    if (!WriteStagedArchive(pack, staged, failure)) {
        DeleteStep(staged);
        return false;
    }
    component->installAs = WideToGbk(kPackArchiveName);
    component->recordEntry = entry;
    component->recordWord = word;
    component->installAsHash = HashBytes(pack);
    const int result = ExtractArchive(component, WideToGbk(staged), WideToGbk(game));
    component->installAs.clear();
    component->recordEntry = 0;
    component->recordWord.clear();
    if (result == 1) return true;
    // Refused before its journal began, or rolled back whole: the staged
    // archive is ours to remove. While a journal stays, it is the recovery's.
    if (GetFileAttributesW(JournalPath(game).c_str()) == INVALID_FILE_ATTRIBUTES) DeleteStep(staged);
    return false;
}
