#include "themes/InstallThemePack.h"

#include <windows.h>

#include "runtime/Dialogs.h"
#include "runtime/Encoding.h"
#include "runtime/LongPath.h"
#include "runtime/Resources.h"
#include "install/FolderLock.h"
#include "install/SwapJournal.h"
#include "install/SwapNames.h"
#include "themes/InstallMessages.h"
#include "themes/InstallPack.h"

namespace {

// What the start-up recovery could not put back, told once after the notice.
InstallFailure g_startupRecovery;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

std::wstring GameFolderOf(const Text& target) {
    const std::wstring wide = GbkToWide(target);
    const bool absolute = (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') || wide.compare(0, 2, L"\\\\") == 0;
    if (!absolute || wide.size() < 6 ||
        CompareStringOrdinal(wide.c_str() + wide.size() - 5, 5, L"\\Game", 5, TRUE) != CSTR_EQUAL)
        return std::wstring();
    return ExtendedPath(wide);
}

bool RecoverAtStart(const std::wstring& game, InstallFailure* failure) {
    FolderLock lock;
    if (lock.Take(game, failure)) return RecoverGameFolder(game, failure);
    if (failure->problem == InstallProblem::Busy) return false;
    // A folder the player may not write (a protected one, seen by a plain
    // start) where nothing waits to be finished: nothing to tell either.
    if (Exists(JournalPath(game)) || Exists(StagedPath(game + L"\\" + kPackArchiveName))) return false;
    *failure = InstallFailure();
    return true;
}

Text RecoveryText(const InstallFailure& f, int* flags) {
    *flags = kBoxError;
    if (f.problem == InstallProblem::Busy) {
        *flags = kBoxWarning;
        return BusyText();
    }
    if (!f.unrestoredPath.empty()) return "上次修改没有完成，" + Unrestored(f);
    if (f.problem == InstallProblem::None) return Text();
    // Not silent: the next start or install tries again, and the player may have to help it.
    return "上次修改没有完成，" + LeftToFinish(f.error, f.relativePath);
}

void RecoverLastInstall(const Text& target) {
    const std::wstring game = GameFolderOf(target);
    if (!game.empty()) RecoverAtStart(game, &g_startupRecovery);
}

void ReportUnfinishedRecovery() {
    int flags = 0;
    const Text text = RecoveryText(g_startupRecovery, &flags);
    g_startupRecovery = InstallFailure();
    if (!text.empty()) ShowMessage(text, flags, Text(kInstallTitle));
}

void InstallThemePack(const ThemePack& pack, const Text& target, ZipComponent* zip) {
    const std::wstring game = GameFolderOf(target);
    if (game.empty()) {
        ShowMessage("请选择正确地址！", kBoxOk);
        return;
    }
    if (!InstallPackArchive(zip, ResourceBytes(pack.archive), game, pack.order, pack.word)) {
        ShowInstallFailure(zip->failure);
        return;
    }
    // In place, but not yet all of it finished: not the plain success text.
    if (!zip->failure.unfinishedPath.empty())
        ShowMessage("修改已生效，" + UnfinishedText(zip->failure), kBoxWarning, Text(kInstallTitle));
    else
        ShowMessage(pack.successText, kBoxInformation, Text(kInstallTitle));
}
