#include "gamefolder/GameFolder.h"

#include "gamefolder/GameDetect.h"
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

void LoadGameFolder(const GameFolderControls& controls) {
    const Text saved = FileExists(PathFilePath()) ? BytesToText(ReadFileBytes(PathFilePath())) : Text();
    if (!Accept(saved) || g_folderCheck != kGameFolderWord) {
        // No folder known: the browser opens where the game was found, if it was.
        g_acceptedFolder = DetectGameFolder();
        return;
    }
    g_acceptedFolder = saved;
    SetProperty(controls.window, controls.pathBox, kPropContent, saved);
}

void BrowseGameFolder(const GameFolderControls& controls) {
    const Text picked = BrowseForFolder("请选择LOL目录文件夹", false, g_acceptedFolder);
    SetProperty(controls.window, controls.pathBox, kPropContent, picked);
    const Text shown = GetProperty(controls.window, controls.pathBox, kPropContent).text;
    if (!Accept(shown) || g_folderCheck != kGameFolderWord) return;
    // One pick per run: the folder controls stay greyed until the program ends.
    SetProperty(controls.window, controls.pathBox, kPropDisabled, true);
    SetProperty(controls.window, controls.browseButton, kPropDisabled, true);
    g_acceptedFolder = shown;
    WriteFileBytes(PathFilePath(), {TextToBytes(shown)});
    ShowMessage("选择成功,开始选择功能吧！", kBoxInformation, Text("温馨提示:"));
}
