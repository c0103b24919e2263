#include "gamefolder/GameDetect.h"

#include "gamefolder/GameFolder.h"
#include "runtime/SystemSearch.h"

namespace {

// Where the last "\" of the path is, stepping over double-byte characters
// (a GBK trail byte may be 0x5C); -1 when there is none.
int LastBackslash(const Text& path) {
    int last = -1;
    for (int i = 0; i < int(path.size()); ++i) {
        if (IsLeadByte(path[i])) {
            ++i;
            continue;
        }
        if (path[i] == '\\') last = i;
    }
    return last;
}

Text WithoutTrailingBackslash(Text path) {
    while (path.size() > 3 && LastBackslash(path) == int(path.size()) - 1) path.pop_back();
    return path;
}

bool IsGameFolder(const Text& folder) {
    return FindGameFolderWord(folder) != -1 && FolderExists(folder + "\\Game");
}

// The folder itself or the nearest one above it that is the game's folder.
Text GameFolderAtOrAbove(Text folder) {
    folder = WithoutTrailingBackslash(folder);
    while (!folder.empty() && FindGameFolderWord(folder) != -1) {
        if (IsGameFolder(folder)) return folder;
        const int cut = LastBackslash(folder);
        if (cut <= 2) break;  // "D:\" is no game folder
        folder.resize(cut);
    }
    return Text();
}

Text FolderOfProgram(const Text& path) {
    const int cut = LastBackslash(path);
    return cut > 0 ? path.substr(0, cut) : Text();
}

// An uninstall command's program: "C:\x\uninst.exe" /S -> C:\x\uninst.exe.
Text CommandProgram(const Text& command) {
    if (!command.empty() && command[0] == '"') {
        const std::size_t end = command.find('"', 1);
        return end == Text::npos ? Text() : command.substr(1, end - 1);
    }
    const int exe = FindText(command, ".exe", std::nullopt, true);
    return exe == -1 ? command : command.substr(0, exe + 3);
}

Text FromRunningClient() {
    for (const Text& program : RunningProgramPaths({L"League of Legends.exe", L"Client.exe"}))
        if (Text folder = GameFolderAtOrAbove(FolderOfProgram(program)); !folder.empty()) return folder;
    return Text();
}

Text FromUninstallEntries() {
    for (const UninstallEntry& e : UninstallEntries()) {
        if (FindGameFolderWord(e.displayName) == -1 && FindGameFolderWord(e.installLocation) == -1) continue;
        for (const Text& at : {e.installLocation, FolderOfProgram(CommandProgram(e.uninstallString))})
            if (Text folder = GameFolderAtOrAbove(at); !folder.empty()) return folder;
    }
    return Text();
}

Text FromUsualFolders() {
    for (const Text& drive : FixedDrives())
        for (const char* place : {"\\腾讯游戏\\英雄联盟", "\\Program Files (x86)\\腾讯游戏\\英雄联盟", "\\英雄联盟"})
            if (IsGameFolder(drive + place)) return drive + place;
    return Text();
}

}  // namespace

Text DetectGameFolder() {
    for (Text (*look)() : {FromRunningClient, FromUninstallEntries, FromUsualFolders})
        if (Text folder = look(); !folder.empty()) return folder;
    return Text();
}
