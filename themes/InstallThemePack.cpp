#include "themes/InstallThemePack.h"

#include "app/MainWindow.h"
#include "gamefolder/GameFolder.h"
#include "runtime/Dialogs.h"
#include "runtime/FileUtil.h"
#include "runtime/Process.h"
#include "runtime/Resources.h"
#include "themes/ArchiveExtract.h"

namespace {

const char kInstallTitle[] = "温馨提示°";

}  // namespace

void InstallThemePack(const ThemePack& pack) {
    const Text folder = BytesToText(ReadFileBytes(PathFilePath()));
    SetProperty(MainWindow(), "编辑框1", kPropContent, folder + "\\Game");
    Delay(1000);
    if (FolderCheck() != kGameFolderWord) {
        ShowMessage("请选择正确地址！", kBoxOk);
        SetProperty(MainWindow(), "选择框_王者", kPropTicked, false);
        return;
    }

    // Read back: the box may have been changed during the wait.
    const Text target = GetProperty(MainWindow(), "编辑框1", kPropContent).text;
    const Text archive = target + "\\wzCAFG.ZIP";
    // A read-only copy left behind must not keep the old theme's archive.
    ClearFileAttributes(archive);
    DeleteFilePath(archive);
    // Straight from the mapped resource to disk: no copy of the pack in memory.
    const ByteSpan packBytes = ResourceBytes(pack.archive);
    if (packBytes.size == 0 || !WriteFileBytes(archive, {packBytes})) {
        // Never unpack a stale archive under this theme's name.
        ShowMessage("修改失败：无法写入界面包 " + archive +
                        "\r\n请关闭游戏后重试，并确认游戏目录可以写入。",
                    kBoxInformation, Text(kInstallTitle));
        return;
    }
    if (ExtractArchive(ZipComponentNamed("ZIP压缩1"), archive, target) != 1) {
        ShowMessage("修改失败：界面文件没有全部写入游戏目录。\r\n请关闭游戏后重试。", kBoxInformation,
                    Text(kInstallTitle));
        return;
    }
    ShowMessage(pack.successText, kBoxInformation, Text(kInstallTitle));
}
