#include "gamefolder/GameFolder.h"

#include "app/MainWindow.h"
#include "runtime/Dialogs.h"
#include "runtime/FileUtil.h"

const Text kGameFolderWord = "英雄联盟";

namespace {

Text g_folderCheck;
Text g_acceptedFolder;  // where the folder browser opens

// Sets FolderCheck from the match; false when the path holds no "英雄联盟".
bool Accept(const Text& path) {
    const int at = FindGameFolderWord(path);
    if (at == -1) return false;
    g_folderCheck = MidText(path, at, TextLength(kGameFolderWord));
    return true;
}

}  // namespace

const Text& FolderCheck() { return g_folderCheck; }

Text PathFilePath() { return ProgramFolder() + "\\游戏地址.txt"; }

int FindGameFolderWord(const Text& path) { return FindText(path, kGameFolderWord); }

void LoadGameFolder() {
    if (!FileExists(PathFilePath())) return;
    const Text saved = BytesToText(ReadFileBytes(PathFilePath()));
    if (!Accept(saved) || g_folderCheck != kGameFolderWord) return;
    g_acceptedFolder = saved;
    SetProperty(MainWindow(), "编辑框1", kPropContent, saved);
}

void BrowseGameFolder() {
    const Text picked = BrowseForFolder("请选择LOL目录文件夹", false, g_acceptedFolder);
    SetProperty(MainWindow(), "编辑框1", kPropContent, picked);
    const Text shown = GetProperty(MainWindow(), "编辑框1", kPropContent).text;
    if (!Accept(shown) || g_folderCheck != kGameFolderWord) return;
    // One pick per run: the folder controls stay greyed until the program ends.
    SetProperty(MainWindow(), "编辑框1", kPropDisabled, true);
    SetProperty(MainWindow(), "按钮1", kPropDisabled, true);
    g_acceptedFolder = shown;
    WriteFileBytes(PathFilePath(), {TextToBytes(shown)});
    ShowMessage("选择成功,开始选择功能吧！", kBoxInformation, Text("温馨提示:"));
}
