#include "themes/InstallThemePack.h"

#include <windows.h>

#include "app/MainWindow.h"
#include "gamefolder/GameFolder.h"
#include "runtime/Dialogs.h"
#include "runtime/Encoding.h"
#include "runtime/FileUtil.h"
#include "runtime/LongPath.h"
#include "runtime/Process.h"
#include "runtime/Resources.h"
#include "themes/ArchiveExtract.h"
#include "themes/InstallPack.h"

namespace {

const char kInstallTitle[] = "温馨提示°";
const char kUnchanged[] = "\r\n游戏文件没有任何改动。";
const char kNotYetRestored[] =
    "\r\n\r\n游戏目录尚未恢复原样。请关闭游戏，Velmora会在下次启动或下次修改时自动把它放回原处。";

// What the start-up recovery could not put back, told once after the notice.
InstallFailure g_startupRecovery;

// Only an absolute folder path ending in "\Game" is a place to install into:
// anything else (an empty path file gives "\Game", the root of the drive) is not.
bool IsGameTarget(const Text& target) {
    const std::wstring wide = GbkToWide(target);
    const bool absolute = (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') || wide.compare(0, 2, L"\\\\") == 0;
    return absolute && wide.size() >= 6 && CompareStringOrdinal(wide.c_str() + wide.size() - 5, 5, L"\\Game", 5, TRUE) == CSTR_EQUAL;
}

Text GamePath(const std::wstring& relative) {
    return "Game\\" + (relative.empty() ? WideToGbk(kPackArchiveName) : WideToGbk(relative));
}

// The game file still waiting for its original, and why it waits.
Text Unrestored(const InstallFailure& f) {
    const unsigned long e = f.unrestoredError;
    const bool inUse = e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION || e == ERROR_USER_MAPPED_FILE;
    return (inUse ? Text("以下游戏文件正在被占用，暂时无法放回原处：")
                  : "以下游戏文件暂时无法放回原处（错误代码 " + std::to_string(e) + "）：") +
           "\r\n" + GamePath(f.unrestoredPath) + kNotYetRestored;
}

// The message for a failed install: what blocked, which file (relative to
// the game folder), and what the player can do about it; then either that
// nothing changed, or which original could not be put back yet.
void ShowInstallFailure(const InstallFailure& f) {
    const Text where = GamePath(f.relativePath);
    Text text;
    int flags = kBoxError;
    switch (f.problem) {
        case InstallProblem::Unfinished:
            ShowMessage("修改失败：上次修改还没有撤销完成，" + Unrestored(f), kBoxError, Text(kInstallTitle));
            return;
        case InstallProblem::InUse:
            text = "修改失败：游戏文件正在被占用，无法替换：\r\n" + where + "\r\n\r\n游戏可能正在运行，请关闭游戏后重试。";
            flags = kBoxWarning;
            break;
        case InstallProblem::AccessDenied:
            text = "修改失败：没有权限写入游戏目录：\r\n" + where +
                   "\r\n\r\n该文件夹受系统保护，请右键点击Velmora，选择“以管理员身份运行”后重试。";
            break;
        case InstallProblem::DiskFull:
            text = "修改失败：磁盘空间不足，无法写入：\r\n" + where + "\r\n\r\n请清理游戏所在的磁盘后重试。";
            break;
        case InstallProblem::Damaged:
            text = "修改失败：界面包已损坏：\r\n" + where + "\r\n\r\n请重新下载Velmora后重试。";
            break;
        default:
            text = "修改失败：无法写入游戏文件：\r\n" + where + "\r\n（错误代码 " + std::to_string(f.error) +
                   "）\r\n\r\n请关闭游戏后重试。";
    }
    if (f.unrestoredPath.empty())
        ShowMessage(text + kUnchanged, flags, Text(kInstallTitle));
    else
        ShowMessage(text + "\r\n\r\n撤销修改时，" + Unrestored(f), kBoxError, Text(kInstallTitle));
}

}  // namespace

void RecoverLastInstall() {
    const Text folder = BytesToText(ReadFileBytes(PathFilePath()));
    if (FindGameFolderWord(folder) < 0 || !IsGameTarget(folder + "\\Game")) return;
    const std::wstring game = ExtendedPath(GbkToWide(folder + "\\Game"));
    if (!game.empty()) RecoverGameFolder(game, &g_startupRecovery);
}

void ReportUnfinishedRecovery() {
    if (g_startupRecovery.unrestoredPath.empty()) return;
    const Text text = "上次修改没有完成，" + Unrestored(g_startupRecovery);
    g_startupRecovery = InstallFailure();
    ShowMessage(text, kBoxError, Text(kInstallTitle));
}

void InstallThemePack(const ThemePack& pack) {
    const Text folder = BytesToText(ReadFileBytes(PathFilePath()));
    SetProperty(MainWindow(), "编辑框1", kPropContent, folder + "\\Game");
    Delay(1000);
    // Closed during the wait: the player is gone, nothing is written.
    if (!WindowAlive(MainWindow())) return;
    if (FolderCheck() != kGameFolderWord) {
        ShowMessage("请选择正确地址！", kBoxOk);
        SetProperty(MainWindow(), "选择框_王者", kPropTicked, false);
        return;
    }

    // Read back: the box may have been changed during the wait.
    const Text target = GetProperty(MainWindow(), "编辑框1", kPropContent).text;
    const std::wstring game = ExtendedPath(GbkToWide(target));
    if (!IsGameTarget(target) || game.empty()) {
        ShowMessage("请选择正确地址！", kBoxOk);
        return;
    }
    ZipComponent* zip = ZipComponentNamed("ZIP压缩1");
    if (!InstallPackArchive(zip, ResourceBytes(pack.archive), game)) {
        ShowInstallFailure(zip->failure);
        return;
    }
    ShowMessage(pack.successText, kBoxInformation, Text(kInstallTitle));
}
