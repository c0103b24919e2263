// The 44 theme boxes as a pick-at-most-one choice, and the install button.
#include <cstring>

#include "app/MainWindow.h"
#include "runtime/Dialogs.h"
#include "runtime/FileUtil.h"
#include "runtime/Process.h"
#include "themes/Catalogue.h"
#include "themes/InstallThemePack.h"
#include "themes/ThemePreviews.h"

namespace {

// The window's part of an install: the target shown in 编辑框1, a second's
// wait, the folder check; then the target read back from the box (it may
// have been changed meanwhile) goes to the install itself.
void InstallIntoRememberedFolder(const ThemePack& pack) {
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
    InstallThemePack(pack, GetProperty(MainWindow(), "编辑框1", kPropContent).text, ZipComponentNamed("ZIP压缩1"));
}

}  // namespace

void SelectTheme(const char* clickedBox) {
    // The click has already toggled the box itself; only the others change.
    for (const ThemePack& pack : kCatalogue)
        if (std::strcmp(pack.checkBox, clickedBox) != 0) SetProperty(MainWindow(), pack.checkBox, kPropTicked, false);
}

void InstallSelectedTheme() {
    for (const ThemePack& pack : kCatalogue) {
        if (!GetProperty(MainWindow(), pack.checkBox, kPropTicked).AsBool()) continue;
        InstallEntryFromWindow(pack.order);
        return;
    }
}

void InstallEntryFromWindow(int order) {
    if (order < 1 || order > int(kThemePackCount)) return;
    // The tray menu still opens during an install's wait: one install at a time.
    static bool installing = false;
    if (installing) return;
    installing = true;
    // Both greyed until the install's message is closed: a click during
    // its one-second wait would otherwise start a second install, or
    // change the folder, inside it. 按钮1 gets back the state it had (it
    // stays greyed after a successful pick).
    const bool browseWasDisabled = GetProperty(MainWindow(), "按钮1", kPropDisabled).AsBool();
    SetProperty(MainWindow(), "按钮1", kPropDisabled, true);
    SetProperty(MainWindow(), "按钮2", kPropDisabled, true);
    InstallIntoRememberedFolder(kCatalogue[order - 1]);
    SetProperty(MainWindow(), "按钮2", kPropDisabled, false);
    SetProperty(MainWindow(), "按钮1", kPropDisabled, browseWasDisabled);
    installing = false;
}

void PreviewTheme(const char* box) {
    for (const ThemePack& pack : kCatalogue)
        if (std::strcmp(pack.checkBox, box) == 0)
            ShowPreviewPopup(MainWindow(), box, ThemePreview(pack), ThemePreviewCaption(pack));
}
