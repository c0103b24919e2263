// The main window's layout: the frame, its controls and invisible components.
#include "app/MainWindow.h"

#include <windows.h>

#include <cstring>

#include "app/MakerInfo.h"
#include "gamefolder/GameFolder.h"
#include "runtime/FileUtil.h"

namespace {

constexpr int kBlack = Rgb(0, 0, 0);
constexpr int kMagenta = Rgb(255, 0, 255);

// 编辑框1's fixed-pitch face.
const FontSpec kEditFont = {"新宋体", -10, 400, GB2312_CHARSET, FIXED_PITCH};

const char kNotice[] =
    "温馨提示：本软件使用完全免费，请勿使用于商业用途，最近有的不良卖家在出售该软件，未经作者授权出售，造成任何损失与作者无关！\r\n\r\n"
    "软件简介：Velmora(原名：Trennic)是一款可以帮助《英雄联盟》玩家修改游戏界面的工具。使用方便、操作简单、界面清新，只需一键即可轻松修改界面，完全傻瓜式操作，无视游戏版本更新。非常适合想改界面却又不懂操作的朋友使用。\r\n\r\n"
    "特别提醒：本软件由Pellix编写，难免有部分杀软误报病毒。如果被报毒，请自行添加信任即可。";

// One theme check box: name, caption, parent, position and width; all 44
// are 19 high, black, tab stops, go to SelectTheme and show their preview.
constexpr LayoutEntry ThemeBox(const char* name, const char* caption, const char* parent, int left, int top,
                               int width = 95) {
    LayoutEntry box{name, ControlKind::CheckBox, parent, left, top, width, 19, caption, kBlack};
    box.tabStop = true;
    box.onEventFrom = SelectTheme;
    box.onPointedAt = PreviewTheme;
    return box;
}

void FlickerLabel5() { FlickerColour("标签5", kPropTextColour); }
void FlickerLabel1() { FlickerColour("标签1", kPropTextColour); }
void FlickerLink() { FlickerColour("超级链接框1", kPropLinkColour); }

}  // namespace

const LayoutEntry kMainLayout[] = {
    // name, kind, parent, left, top, width, height, text, text colour, background, font, tab stop, handler
    {"窗口", ControlKind::Window, nullptr, 0, 0, 445, 455, "VelmoraV2.5.3.1025"},

    {"分组框1", ControlKind::GroupBox, nullptr, 16, 8, 417, 72, "目录表", kMagenta},
    {"编辑框1", ControlKind::EditBox, "分组框1", 8, 23, 232, 35, "注：点击“浏览”，找到目录“英雄联盟”点确定",
     Rgb(192, 192, 192), Rgb(255, 255, 255), &kEditFont, true},
    {"按钮1", ControlKind::Button, "分组框1", 248, 23, 70, 35, "浏览", kDefaultColour, kDefaultColour, nullptr, true, BrowseClicked},
    {"按钮2", ControlKind::Button, "分组框1", 330, 23, 70, 35, "修改", kDefaultColour, kDefaultColour, nullptr, true, InstallSelectedTheme},

    {"分组框2", ControlKind::GroupBox, nullptr, 15, 88, 417, 288, "选择区域", kMagenta},
    ThemeBox("选择框_王者", "安装王者界面", "分组框2", 18, 24),
    ThemeBox("选择框_钻石", "安装钻石界面", nullptr, 129, 112, 96),
    ThemeBox("选择框_露露", "安装露露界面", "分组框2", 210, 24),
    ThemeBox("选择框_恶魔", "安装恶魔界面", "分组框2", 307, 24),
    ThemeBox("选择框_暗黑", "安装暗黑界面", "分组框2", 18, 48),
    ThemeBox("选择框_黄金", "安装黄金界面", "分组框2", 114, 48),
    ThemeBox("选择框_圣诞", "安装圣诞界面", "分组框2", 210, 47),
    ThemeBox("选择框_神族", "安装神族界面", "分组框2", 307, 48),
    ThemeBox("选择框_虫族", "安装虫族界面", "分组框2", 18, 72),
    ThemeBox("选择框_蓝珠", "安装蓝珠界面", "分组框2", 114, 72),
    ThemeBox("选择框_科幻", "安装科幻界面", "分组框2", 210, 72),
    ThemeBox("选择框_狩猎", "安装狩猎界面", "分组框2", 307, 72),
    ThemeBox("选择框_黑框", "安装黑框界面", "分组框2", 18, 96),
    ThemeBox("选择框_Foxe", "安装Foxe界面", "分组框2", 114, 96),
    ThemeBox("选择框_Perb", "安装Perb界面", "分组框2", 210, 96),
    ThemeBox("选择框_战地", "安装战地界面", "分组框2", 307, 96),
    ThemeBox("选择框_马年", "安装马年界面", "分组框2", 18, 120),
    ThemeBox("选择框_蓝色", "安装蓝色界面", "分组框2", 114, 120),
    ThemeBox("选择框_酷绿", "安装酷绿界面", "分组框2", 210, 120),
    ThemeBox("选择框_屠龙", "安装屠龙界面", nullptr, 322, 208),
    ThemeBox("选择框_金色", "安装金色界面", "分组框2", 18, 144),
    ThemeBox("选择框_锤石", "安装锤石界面", "分组框2", 114, 144),
    ThemeBox("选择框_鱼人", "安装鱼人界面", "分组框2", 210, 144),
    ThemeBox("选择框_打野", "安装打野界面", "分组框2", 307, 144),
    ThemeBox("选择框_冰魄", "安装冰魄界面", "分组框2", 18, 168),
    ThemeBox("选择框_Kllv", "安装Kllv界面", "分组框2", 114, 168),
    ThemeBox("选择框_安妮", "安装安妮界面", "分组框2", 210, 168),
    ThemeBox("选择框_钻白", "安装钻白界面", "分组框2", 307, 168),
    ThemeBox("选择框_透明", "安装透明界面", "分组框2", 18, 192),
    ThemeBox("选择框_紫色", "安装紫色界面", "分组框2", 114, 192),
    ThemeBox("选择框_娜美", "安装娜美界面", "分组框2", 210, 191),
    ThemeBox("选择框_璐璐", "安装璐璐界面", "分组框2", 307, 192),
    ThemeBox("选择框_瑞文", "安装瑞文界面", "分组框2", 18, 216),
    ThemeBox("选择框_武器", "安装武器界面", "分组框2", 114, 216),
    ThemeBox("选择框_辅助", "安装辅助界面", "分组框2", 210, 216),
    ThemeBox("选择框_虚空", "安装虚空界面", "分组框2", 307, 216),
    ThemeBox("选择框_狼人", "安装狼人界面", "分组框2", 18, 240),
    ThemeBox("选择框_冰兰", "安装冰兰界面", "分组框2", 114, 240),
    ThemeBox("选择框_白翼", "安装白翼界面", "分组框2", 210, 240),
    ThemeBox("选择框_亚索", "安装亚索界面", "分组框2", 307, 240),
    ThemeBox("选择框_Tron", "安装Tron界面", "分组框2", 18, 264),
    ThemeBox("选择框_铂金", "安装铂金界面", "分组框2", 114, 264),
    ThemeBox("选择框_盲僧", "安装盲僧界面", "分组框2", 210, 264),
    ThemeBox("选择框_还原", "还原原始界面", nullptr, 322, 351),

    {"分组框3", ControlKind::GroupBox, nullptr, 15, 377, 417, 29, ""},
    {"标签5", ControlKind::Label, "分组框3", 19, 9, 163, 16, "Quorvane交流群：" VELMORA_CHAT_GROUP, kBlack},
    {"标签1", ControlKind::Label, "分组框3", 210, 9, 55, 16, "官方网站：", kBlack},
    {"超级链接框1", ControlKind::HyperLink, "分组框3", 270, 11, 132, 12, "", Rgb(0, 0, 255), kDefaultColour,
     nullptr, false, nullptr, VELMORA_SITE_URL, Rgb(128, 0, 0), Rgb(51, 153, 255)},
    {"标签2", ControlKind::Label, nullptr, 305, 410, 2647, 16, kNotice, Rgb(255, 0, 0)},

    {"时钟1", ControlKind::Timer, nullptr, 0, 0, 0, 0, "", kDefaultColour, kDefaultColour, nullptr, false, ScrollNotice},
    {"时钟2", ControlKind::Timer, nullptr, 0, 0, 0, 0, "", kDefaultColour, kDefaultColour, nullptr, false, FlickerLabel5},
    {"时钟3", ControlKind::Timer, nullptr, 0, 0, 0, 0, "", kDefaultColour, kDefaultColour, nullptr, false, FlickerLabel1},
    {"时钟4", ControlKind::Timer, nullptr, 0, 0, 0, 0, "", kDefaultColour, kDefaultColour, nullptr, false, FlickerLink},
    {"ZIP压缩1", ControlKind::ZipComponent, nullptr, 0, 0, 0, 0, ""},
    {"通用对话框1", ControlKind::CommonDialog, nullptr, 0, 0, 0, 0, ""},

    {"托盘菜单", ControlKind::Menu, nullptr, 0, 0, 0, 0, ""},
    {"菜单_显示主窗口", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "显示主窗口", kDefaultColour, kDefaultColour, nullptr, false, ShowMainWindowCommand},
    {"菜单_隐藏主窗口", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "隐藏主窗口", kDefaultColour, kDefaultColour, nullptr, false, HideMainWindowCommand},
    {"分隔条1", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "-"},
    {"菜单_关于软件", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "关于软件", kDefaultColour, kDefaultColour, nullptr, false, AboutCommand},
    {"分隔条2", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "-"},
    {"菜单_检查更新", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "检查更新", kDefaultColour, kDefaultColour, nullptr, false, CheckUpdateCommand},
    {"分隔条3", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "-"},
    {"菜单_官方网站", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "官方网站", kDefaultColour, kDefaultColour, nullptr, false, SiteAddressCommand},
    {"菜单_官方论坛", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "官方论坛", kDefaultColour, kDefaultColour, nullptr, false, ForumAddressCommand},
    {"分隔条4", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "-"},
    // Greyed; its caption is set from the game folder each time the menu opens.
    {"菜单_当前界面", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "当前界面：原始"},
    // Only there while the game has patched files of the installed theme: "重新安装「王者」".
    {"菜单_重新安装", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "重新安装", kDefaultColour, kDefaultColour, nullptr, false, ReinstallCommand},
    {"菜单_撤销修改", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "撤销修改（恢复原来的文件）", kDefaultColour, kDefaultColour, nullptr, false, UndoCommand},
    {"分隔条5", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "-"},
    {"菜单_退出", ControlKind::MenuItem, "托盘菜单", 0, 0, 0, 0, "退出", kDefaultColour, kDefaultColour, nullptr, false, ExitCommand},
};
const std::size_t kMainLayoutCount = sizeof kMainLayout / sizeof kMainLayout[0];
static_assert(sizeof kMainLayout / sizeof kMainLayout[0] == 77, "the window, 76 controls and components");

// ZIP压缩1: extraction runs through it; the program attaches no observer.
ZipComponent* ZipComponentNamed(const char* name) {
    static ZipComponent zip1;
    return std::strcmp(name, "ZIP压缩1") == 0 ? &zip1 : nullptr;
}

const WindowEvents kMainWindowEvents = {MainWindowCreated, ConfirmClose, HideWhenMinimised, TrayNotify,
                                        ShowMainWindowAgain};

// 编辑框1 shows the game folder; 按钮1 picks it.
GameFolderControls FolderControls() { return {MainWindow(), "编辑框1", "按钮1"}; }

void BrowseClicked() { BrowseGameFolder(FolderControls()); }

Text RememberedTarget() {
    const Text folder = BytesToText(ReadFileBytes(PathFilePath()));
    return FindGameFolderWord(folder) < 0 ? Text() : folder + "\\Game";
}
