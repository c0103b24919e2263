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

namespace {

const char kInstallTitle[] = "温馨提示°";
const char kPackArchive[] = "wzCAFG.ZIP";
const char kUnchanged[] = "\r\n游戏文件没有任何改动。";

// Only an absolute folder path ending in "\Game" is a place to install into:
// anything else (an empty path file gives "\Game", the root of the drive) is not.
bool IsGameTarget(const Text& target) {
    const std::wstring wide = GbkToWide(target);
    const bool absolute = (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') || wide.compare(0, 2, L"\\\\") == 0;
    return absolute && wide.size() >= 6 && CompareStringOrdinal(wide.c_str() + wide.size() - 5, 5, L"\\Game", 5, TRUE) == CSTR_EQUAL;
}

// The message for a failed install: what blocked, which file (relative to
// the game folder), and what the player can do about it.
void ShowInstallFailure(const InstallFailure& f) {
    const Text where = "Game\\" + (f.relativePath.empty() ? Text(kPackArchive) : WideToGbk(f.relativePath));
    switch (f.problem) {
        case InstallProblem::InUse:
            ShowMessage("修改失败：游戏文件正在被占用，无法替换：\r\n" + where +
                            "\r\n\r\n游戏可能正在运行，请关闭游戏后重试。" + kUnchanged,
                        kBoxWarning, Text(kInstallTitle));
            return;
        case InstallProblem::AccessDenied:
            ShowMessage("修改失败：没有权限写入游戏目录：\r\n" + where +
                            "\r\n\r\n该文件夹受系统保护，请右键点击Velmora，选择“以管理员身份运行”后重试。" + kUnchanged,
                        kBoxError, Text(kInstallTitle));
            return;
        case InstallProblem::DiskFull:
            ShowMessage("修改失败：磁盘空间不足，无法写入：\r\n" + where + "\r\n\r\n请清理游戏所在的磁盘后重试。" + kUnchanged,
                        kBoxError, Text(kInstallTitle));
            return;
        case InstallProblem::Damaged:
            ShowMessage("修改失败：界面包已损坏：\r\n" + where + "\r\n\r\n请重新下载Velmora后重试。" + kUnchanged,
                        kBoxError, Text(kInstallTitle));
            return;
        default:
            ShowMessage("修改失败：无法写入游戏文件：\r\n" + where + "\r\n（错误代码 " + std::to_string(f.error) +
                            "）\r\n\r\n请关闭游戏后重试。" + kUnchanged,
                        kBoxError, Text(kInstallTitle));
    }
}

// A crash may have left a journal, staged files or a staged pack archive.
void Recover(const std::wstring& game) {
    RecoverInterruptedInstall(game);
    const std::wstring staged = StagedPath(game + L"\\" + GbkToWide(kPackArchive));
    if (GetFileAttributesW(staged.c_str()) != INVALID_FILE_ATTRIBUTES) DeleteFileW(staged.c_str());
}

}  // namespace

void RecoverLastInstall() {
    const Text folder = BytesToText(ReadFileBytes(PathFilePath()));
    if (FindGameFolderWord(folder) < 0 || !IsGameTarget(folder + "\\Game")) return;
    const std::wstring game = ExtendedPath(GbkToWide(folder + "\\Game"));
    if (!game.empty()) Recover(game);
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
    Recover(game);
    // The new pack archive is staged like every member and swapped in with
    // them: a failed install keeps the old one too.
    const Text staged = WideToGbk(StagedPath(game + L"\\" + GbkToWide(kPackArchive)));
    ZipComponent* zip = ZipComponentNamed("ZIP压缩1");
    zip->installAs = kPackArchive;
    // Straight from the mapped resource to disk: no copy of the pack in memory.
    const ByteSpan packBytes = ResourceBytes(pack.archive);
    if (packBytes.size == 0 || !WriteFileBytes(staged, {packBytes})) {
        InstallFailure failure;
        if (packBytes.size == 0) NoteDamaged(&failure, L"");
        else NoteFailure(&failure, GetLastError(), GbkToWide(kPackArchive));
        DeleteFilePath(staged);
        ShowInstallFailure(failure);
        return;
    }
    const int result = ExtractArchive(zip, staged, WideToGbk(game));
    zip->installAs.clear();
    if (result != 1) {
        DeleteFilePath(staged);  // refused before anything was staged beside it
        ShowInstallFailure(zip->failure);
        return;
    }
    ShowMessage(pack.successText, kBoxInformation, Text(kInstallTitle));
}
