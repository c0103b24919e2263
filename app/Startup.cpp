// Start-up in its fixed order, the exit question, and the program's entry.
#include <windows.h>

#include "app/MainWindow.h"
#include "app/MakerInfo.h"
#include "gamefolder/GameFolder.h"
#include "runtime/Dialogs.h"
#include "runtime/Process.h"
#include "runtime/Resources.h"
#include "runtime/SingleInstance.h"
#include "skin/SkinAttach.h"
#include "themes/InstallThemePack.h"
#include "update/UpdateCheck.h"

namespace {

WindowRef g_mainWindow = nullptr;
bool g_startupFinished = false;

const char kNoticeTitle[] = "温馨提醒：";
const char kNoticeText[] =
    "本软件使用完全免费，请勿使用于商业用途！\r\n如果本软件是购买来的，说明你已经被骗了！\r\n软件官网：" VELMORA_SITE_URL
    "\r\n更多软件尽在论坛：" VELMORA_FORUM_URL;
const char kExitTitle[] = "程序准备关闭中~~";
const char kExitText[] =
    "确定退出本程序吗？退出后将关闭Velmora！\r\n若想最小化本软件，请点击“取消”然后点击最小化按钮。";

}  // namespace

WindowRef MainWindow() { return g_mainWindow; }

bool StartupFinished() { return g_startupFinished; }

void MainWindowCreated() {
    // a. Before any box of start-up, so every box is drawn with the skin.
    AttachSkin(ResourceBytes("SKINDATA"));
    // b. A newer version may be offered (and accepted) before anything else shows.
    CheckForUpdate(MainWindow(), true);
    // c.
    SetTrayIcon(MainWindow(), ResourceBytes("TRAYICON"), "Velmora");
    // d. The marquee and the three flickering captions.
    SetProperty(MainWindow(), "时钟1", kPropInterval, 20);
    SetProperty(MainWindow(), "时钟2", kPropInterval, 200);
    SetProperty(MainWindow(), "时钟3", kPropInterval, 200);
    SetProperty(MainWindow(), "时钟4", kPropInterval, 200);
    // e. An install that a crash cut short is rolled back first.
    LoadGameFolder(FolderControls());
    RecoverLastInstall(RememberedTarget());
    // f. Shown at every start; the window appears only after OK.
    ShowMessage(kNoticeText, kBoxInformation, Text(kNoticeTitle));
    // Then, once, an original that the roll-back above could not put back yet.
    ReportUnfinishedRecovery();
}

bool ConfirmClose() {
    return ShowMessage(kExitText, kBoxOkCancel, Text(kExitTitle)) == kPressedOk;
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    // A second start shows the first one's window and ends: no box, no icon.
    if (HandOverToRunningInstance()) return 0;
    InitRuntime();
    // Mapped before any window exists; the attach comes once the main window does.
    LoadSkinLibrary(ResourceBytes("SKINLIB"));
    // The handle is stored before the created event runs, which needs it.
    // Without a main window nothing could ever end the message loop.
    if (!CreateLayoutWindow(kMainLayout, kMainLayoutCount, kMainWindowEvents, &g_mainWindow)) EndProgram(1);
    g_startupFinished = true;
    EndProgram(RunMessageLoop());
}
