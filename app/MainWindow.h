// The main window: its layout and the handlers its events go to.
#pragma once

#include <cstddef>

#include "gamefolder/GameFolder.h"
#include "runtime/Window.h"
#include "themes/ArchiveExtract.h"

extern const LayoutEntry kMainLayout[];
extern const std::size_t kMainLayoutCount;
extern const WindowEvents kMainWindowEvents;

// The one main window, from its creation on (nullptr before).
WindowRef MainWindow();
// The window's invisible ZIP component by its layout name (ZIP压缩1).
ZipComponent* ZipComponentNamed(const char* name);

// Start-up and shutdown.
void MainWindowCreated();
bool ConfirmClose();
// The main window has been made and shown: start-up is over.
bool StartupFinished();

// The game folder's controls (编辑框1, 按钮1) and 按钮1's click.
GameFolderControls FolderControls();
void BrowseClicked();
// Where installs go: the remembered game folder followed by "\Game", or
// nothing when no acceptable folder is remembered.
Text RememberedTarget();

// Theme selection.
void SelectTheme(const char* clickedBox);
// The pointer rests on a theme's box, or the keyboard focused it: its picture and name beside it.
void PreviewTheme(const char* box);
void InstallSelectedTheme();
// Installs catalogue entry `order` (1 to 44) as 按钮2 does for a ticked box.
void InstallEntryFromWindow(int order);

// Animations.
void ScrollNotice();
// Sets a random red as the target's text colour (a label's or the link's normal one).
void FlickerColour(const char* target, int colourProperty);

// Tray icon and menu.
void TrayNotify(int kind);
void HideWhenMinimised();
// Another start of the program asked for the window back.
void ShowMainWindowAgain();
void ShowMainWindowCommand();
void HideMainWindowCommand();
void AboutCommand();
void CheckUpdateCommand();
void SiteAddressCommand();
void ForumAddressCommand();
// Asks, then takes back everything our installs changed in the game folder.
void UndoCommand();
// Installs again the theme the game patched files of, as 按钮2 would.
void ReinstallCommand();
void ExitCommand();
