// The tray icon, hiding when minimised, and the tray menu's commands.
#include "app/MainWindow.h"

#include <windows.h>

#include "app/MakerInfo.h"
#include "runtime/Dialogs.h"
#include "runtime/Process.h"
#include "runtime/ShellUtil.h"
#include "themes/Catalogue.h"
#include "themes/UndoInstalls.h"
#include "update/UpdateCheck.h"

namespace {

// "http://www.example.com/path" -> "www.example.com"
Text HostOf(const Text& url) {
    const int scheme = FindText(url, "://");
    const int from = scheme == -1 ? 1 : scheme + 3;
    Text host = MidText(url, from, TextLength(url));
    for (const char* stop : {"/", ":", "?", "#"}) {
        const int at = FindText(host, stop);
        if (at != -1) host = MidText(host, 1, at - 1);
    }
    return host;
}

const Text kAboutText = Text(
    "欢迎使用Velmora！\r\n\r\n本软件是一款可以帮助《英雄联盟》玩家修改游戏界面的工具。\r\n"
    "使用方便，操作简单，只需一键即可轻松修改界面，完全傻瓜式操作。\r\n"
    "特别提醒：本软件由Pellix编写，难免有部分杀软误报病毒。\r\n如果被报毒，请自行添加信任即可。\r\n"
    "申明：本软件使用完全免费，没有任何后门和恶意代码，请勿用于商业用途！\r\n\r\n软件官网：");

void ShowAndCopyAddress(const char* title, const Text& address) {
    ShowMessage("本软件来自Quorvane，专注于英雄联盟美化工具。\r\n访问地址：" + address, kBoxInformation, Text(title));
    if (SetClipboardText(address))
        ShowMessage("网站地址已复制，粘贴快捷键 CTRL+V", kBoxOk);
    else
        ShowMessage("网站地址复制失败，请手动复制：\r\n" + address, kBoxOk);
}

const char kUndoTitle[] = "温馨提示°";
const char kUndoQuestion[] =
    "确定要撤销修改，恢复原来的文件吗？\r\n\r\n"
    "Velmora将删除它添加的界面文件，并把被它替换的文件恢复成第一次修改之前的样子。";

// The entry 重新安装 installs again: the one the menu last showed as patched.
int g_reinstallEntry = 0;

// 重新安装「<word>」 under the 当前界面 line, there only while the game has
// changed files of the installed entry.
void ShowReinstallItem(const InstalledState& state) {
    const bool patched =
        state.record == RecordRead::Read && state.changed > 0 && state.entry >= 1 && state.entry <= int(kThemePackCount);
    g_reinstallEntry = patched ? state.entry : 0;
    if (patched) SetProperty(MainWindow(), "菜单_重新安装", kPropTitle, "重新安装「" + state.word + "」");
    SetProperty(MainWindow(), "菜单_重新安装", kPropVisible, patched);
}

// 当前界面 and 撤销修改 as the game folder stands right now: read as the
// menu opens (hashing only files no reading ahead has seen as they are now),
// never at start-up.
void ShowInstalledState() {
    const InstalledState state = InstalledIn(RememberedTarget());
    SetProperty(MainWindow(), "菜单_当前界面", kPropTitle, InstalledCaption(state));
    SetProperty(MainWindow(), "菜单_当前界面", kPropDisabled, true);
    SetProperty(MainWindow(), "菜单_撤销修改", kPropDisabled, state.record == RecordRead::None && !state.unfinished);
    ShowReinstallItem(state);
}

void ToggleMainWindow() {
    const bool visible = GetProperty(MainWindow(), nullptr, kPropVisible).AsBool();
    SetProperty(MainWindow(), nullptr, kPropVisible, !visible);
}

}  // namespace

void TrayNotify(int kind) {
    if (kind == 1 || kind == 2) {
        ToggleMainWindow();
    } else if (kind == 3) {
        ShowInstalledState();
        ShowPopupMenu(MainWindow(), "托盘菜单", CursorX(), CursorY());
    } else if (kind == 4) {
        // The pointer is on the icon: the files the menu would hash are
        // hashed now, so that it opens at once; it still looks at them all.
        // It tells of every move: once a second is enough.
        static ULONGLONG last = 0;
        const ULONGLONG now = GetTickCount64();
        if (last != 0 && now - last < 1000) return;
        last = now;
        ReadInstalledAhead(RememberedTarget());
    }
}

void HideWhenMinimised() {
    if (GetProperty(MainWindow(), nullptr, kPropWindowState).number != kStateMinimised) return;
    SetProperty(MainWindow(), nullptr, kPropVisible, false);
    // Windows 11 puts new icons in the overflow area: the first time, say
    // where the program went. Never again in this run.
    static bool told = false;
    if (!told) {
        told = true;
        ShowTrayBalloon(MainWindow(), "Velmora", "Velmora仍在后台运行，单击托盘图标即可重新显示窗口。");
    }
}

void ShowMainWindowAgain() {
    // Asked by a second start while our own start-up is still under way: the
    // window comes on screen when the notice is closed, as always.
    if (!StartupFinished()) return;
    ShowMainWindowCommand();
    // Then restored, as the taskbar button would: a minimised window comes back too.
    SetProperty(MainWindow(), nullptr, kPropWindowState, kStateNormal);
}

void ShowMainWindowCommand() {
    SetProperty(MainWindow(), nullptr, kPropWindowState, kStateNormal);
    SetProperty(MainWindow(), nullptr, kPropVisible, true);
}

void HideMainWindowCommand() { SetProperty(MainWindow(), nullptr, kPropVisible, false); }

void AboutCommand() {
    ShowMessage(kAboutText + HostOf(VELMORA_SITE_URL) + "\r\n软件论坛：" + HostOf(VELMORA_FORUM_URL), kBoxOk,
                Text("关于软件："));
}

void CheckUpdateCommand() { CheckForUpdate(MainWindow(), false); }

void SiteAddressCommand() { ShowAndCopyAddress("访问软件官网：", VELMORA_SITE_URL); }

void ForumAddressCommand() { ShowAndCopyAddress("访问软件论坛：", VELMORA_FORUM_URL); }

void UndoCommand() {
    // The menu still opens while this one's boxes are up: one undo at a time.
    static bool running = false;
    if (running) return;
    running = true;
    // The originals of files the game patched since are let go only when
    // the question said so, and only those it counted.
    const InstalledState state = InstalledIn(RememberedTarget());
    Text question = kUndoQuestion;
    if (!state.superseded.empty()) {
        const std::string n = std::to_string(state.superseded.size());
        question += "\r\n\r\n注意：有" + n + "个文件在修改之后已被游戏更新，将保留游戏的新文件，这" + n +
                    "个文件修改之前的原始文件将不再保留。";
    }
    if (ShowMessage(question, kBoxOkCancel, Text(kUndoTitle)) == kPressedOk)
        UndoThemeInstalls(RememberedTarget(), state.superseded);
    running = false;
}

void ReinstallCommand() { InstallEntryFromWindow(g_reinstallEntry); }

void ExitCommand() { EndProgram(0); }
