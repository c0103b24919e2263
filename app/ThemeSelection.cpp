// The 44 theme boxes as a pick-at-most-one choice, and the install button.
#include <cstring>

#include "app/MainWindow.h"
#include "themes/Catalogue.h"
#include "themes/InstallThemePack.h"

void SelectTheme(const char* clickedBox) {
    // The click has already toggled the box itself; only the others change.
    for (const ThemePack& pack : kCatalogue)
        if (std::strcmp(pack.checkBox, clickedBox) != 0) SetProperty(MainWindow(), pack.checkBox, kPropTicked, false);
}

void InstallSelectedTheme() {
    for (const ThemePack& pack : kCatalogue) {
        if (!GetProperty(MainWindow(), pack.checkBox, kPropTicked).AsBool()) continue;
        // Both greyed until the install's message is closed: a click during
        // its one-second wait would otherwise start a second install, or
        // change the folder, inside it. 按钮1 gets back the state it had (it
        // stays greyed after a successful pick).
        const bool browseWasDisabled = GetProperty(MainWindow(), "按钮1", kPropDisabled).AsBool();
        SetProperty(MainWindow(), "按钮1", kPropDisabled, true);
        SetProperty(MainWindow(), "按钮2", kPropDisabled, true);
        InstallThemePack(pack);
        SetProperty(MainWindow(), "按钮2", kPropDisabled, false);
        SetProperty(MainWindow(), "按钮1", kPropDisabled, browseWasDisabled);
        return;
    }
}
