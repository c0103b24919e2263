#include "themes/InstallThemePack.h"

#include <windows.h>

#include "runtime/Dialogs.h"
#include "runtime/Encoding.h"
#include "runtime/LongPath.h"
#include "runtime/Resources.h"
#include "install/FolderLock.h"
#include "themes/InstallMessages.h"
#include "themes/InstallPack.h"

namespace {

// What the start-up recovery could not put back, told once after the notice.
InstallFailure g_startupRecovery;

}  // namespace

std::wstring GameFolderOf(const Text& target) {
    const std::wstring wide = GbkToWide(target);
    const bool absolute = (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') || wide.compare(0, 2, L"\\\\") == 0;
    if (!absolute || wide.size() < 6 ||
        CompareStringOrdinal(wide.c_str() + wide.size() - 5, 5, L"\\Game", 5, TRUE) != CSTR_EQUAL)
        return std::wstring();
    return ExtendedPath(wide);
}

void RecoverLastInstall(const Text& target) {
    const std::wstring game = GameFolderOf(target);
    if (game.empty()) return;
    FolderLock lock;
    if (lock.Take(game, &g_startupRecovery)) RecoverGameFolder(game, &g_startupRecovery);
}

void ReportUnfinishedRecovery() {
    if (g_startupRecovery.problem == InstallProblem::Busy) {
        g_startupRecovery = InstallFailure();
        ShowMessage(BusyText(), kBoxWarning, Text(kInstallTitle));
        return;
    }
    if (g_startupRecovery.unrestoredPath.empty()) return;
    const Text text = "上次修改没有完成，" + Unrestored(g_startupRecovery);
    g_startupRecovery = InstallFailure();
    ShowMessage(text, kBoxError, Text(kInstallTitle));
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
    ShowMessage(pack.successText, kBoxInformation, Text(kInstallTitle));
}
