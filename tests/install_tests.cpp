// The main job on the real program: the game folder, the theme boxes and
// the installs of all 44 packs, checked on disk against the packs themselves.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <unzip.h>
#include <iowin32.h>

#include "ExtractDriver.h"
#include "FolderSnapshot.h"
#include "GuiDriver.h"
#include "HoldWhenItAppears.h"
#include "ScratchProgram.h"
#include "ScreenPixels.h"
#include "TestFiles.h"
#include "TestText.h"

namespace {

// Saves the screen when the tests are told where (VELMORA_SHOTS).
void SaveShot(const std::wstring& name) {
    const std::wstring folder = gui::EnvPath("VELMORA_SHOTS");
    if (!folder.empty()) gui::SaveScreenshot(folder + L"\\" + name + L".bmp");
}

// The icon a message box shows is the system's error icon: red, not the
// warning's yellow or the information's blue.
bool ShowsErrorIcon(HWND box) {
    for (HWND h : gui::Children(box)) {
        if (gui::ClassOf(h) != L"Static" || (GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        const auto red = [](COLORREF c) { return GetRValue(c) > 180 && GetGValue(c) < 90 && GetBValue(c) < 90; };
        return ScreenPixels(gui::WindowRect(h), red) > 50;
    }
    return false;
}

// Runs under an English locale: Wine can only give Chinese names to Linux
// files when its locale's character set is known, and zh_CN.UTF-8 is not
// installed here. Buttons are pressed by their IDs for the same reason.
//
// A copy of the program in a scratch folder of its own, so that its path
// file never meets the other tests; and a game folder beside it.
class MainJob : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        copy_ = MakeScratchProgram(L"main-job");
        folder_ = copy_.folder;
        exe_ = copy_.exe;
        game_ = copy_.gameFolder;
        CreateDirectoryW(game_.c_str(), nullptr);
        CreateDirectoryW((game_ + L"\\Game").c_str(), nullptr);
    }
    void SetUp() override { ASSERT_FALSE(gui::EnvPath("VELMORA_EXE").empty()); }
    void TearDown() override { gui::Kill(program_); }

    std::wstring PathFile() const { return copy_.PathFile(); }
    void RememberGameFolder() { ASSERT_TRUE(::RememberGameFolder(copy_)) << GetLastError(); }
    void ForgetGameFolder() { DeleteFileW(PathFile().c_str()); }

    HWND Start() { return window_ = StartPastNotice(exe_, &program_); }
    HWND Find(const std::wstring& text) { return gui::ChildWithText(window_, text); }
    // 按钮1's folder browser, once it has settled on its first selection.
    HWND OpenBrowser() {
        Click(L"浏览");
        for (int i = 0; i < 200; ++i, Sleep(25))
            for (HWND w : gui::TopLevelWindows(program_.pid))
                if (gui::ClassOf(w) == L"#32770" && gui::ChildWithText(w, L"请选择LOL目录文件夹")) {
                    gui::Settle(300);
                    return w;
                }
        return nullptr;
    }
    HWND Edit() {
        for (HWND h : gui::Children(window_))
            if (gui::ClassOf(h) == L"Edit") return h;
        return nullptr;
    }
    void Click(const std::wstring& caption) {
        HWND h = Find(caption);
        ASSERT_TRUE(h) << caption.size();
        const POINT c = gui::Centre(h);
        gui::ClickControlAt(c.x, c.y);
    }
    bool Ticked(const std::wstring& caption) { return SendMessageW(Find(caption), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    std::vector<std::wstring> TickedBoxes() {
        std::vector<std::wstring> out;
        for (HWND h : gui::Children(window_))
            if (gui::ClassOf(h) == L"Button" && SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED)
                out.push_back(gui::TextOf(h));
        return out;
    }
    // The box that ends an install, with its text; it is closed with OK.
    std::wstring InstallAndRead(const std::wstring& box, const std::wstring& title = L"温馨提示°",
                                bool* errorIcon = nullptr) {
        if (!Ticked(box)) Click(box);
        Click(L"修改");
        HWND done = gui::WaitForBox(program_.pid, title, 30000);
        if (!done) return L"<no box>";
        const std::wstring text = gui::BoxText(done);
        if (errorIcon) *errorIcon = ShowsErrorIcon(done);
        if (!shot_.empty()) SaveShot(shot_);
        gui::Press(GetDlgItem(done, IDOK));
        gui::WaitGone(done);
        gui::Settle(100);
        return text;
    }

    static ScratchProgram copy_;
    static std::wstring folder_, exe_, game_;
    std::wstring shot_;  // the screen is saved under this name when the next install's box shows
    gui::Program program_;
    HWND window_ = nullptr;
};
ScratchProgram MainJob::copy_;
std::wstring MainJob::folder_, MainJob::exe_, MainJob::game_;

// Every member of the archive is on disk under target with its bytes.
void ExpectExtracted(const std::wstring& archive, const std::wstring& target, int* files, int* folders) {
    zlib_filefunc64_def io;
    fill_win32_filefunc64W(&io);
    unzFile zip = unzOpen2_64(archive.c_str(), &io);
    ASSERT_TRUE(zip);
    *files = *folders = 0;
    for (int s = unzGoToFirstFile(zip); s == UNZ_OK; s = unzGoToNextFile(zip)) {
        char name[300];
        unz_file_info64 info;
        ASSERT_EQ(unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0), UNZ_OK);
        std::wstring rel;
        for (const char* p = name; *p; ++p) rel += *p == '/' ? L'\\' : wchar_t(*p);
        const std::wstring path = target + L"\\" + rel;
        if (rel.back() == L'\\') {
            ++*folders;
            EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_DIRECTORY) << name;
            continue;
        }
        ++*files;
        std::string want;
        ASSERT_EQ(unzOpenCurrentFile(zip), UNZ_OK);
        char buf[16384];
        for (int got; (got = unzReadCurrentFile(zip, buf, sizeof buf)) > 0;) want.append(buf, got);
        unzCloseCurrentFile(zip);
        EXPECT_TRUE(ReadAll(path) == want) << name;
    }
    unzClose(zip);
}

// Our staged, set-aside and journal files never outlive an install.
std::vector<std::wstring> Leftovers(const Tree& tree) {
    std::vector<std::wstring> out;
    for (const auto& [path, e] : tree)
        if (path.find(L".velmora-") != std::wstring::npos) out.push_back(path);
    return out;
}

// The names of the file members of a pack, in the archive's order.
std::vector<std::wstring> FileMembers(const std::string& pack, const std::wstring& scratch) {
    const std::wstring zipPath = scratch + L"\\members.zip";
    WriteAll(zipPath, pack);
    zlib_filefunc64_def io;
    fill_win32_filefunc64W(&io);
    std::vector<std::wstring> out;
    unzFile zip = unzOpen2_64(zipPath.c_str(), &io);
    for (int s = unzGoToFirstFile(zip); zip && s == UNZ_OK; s = unzGoToNextFile(zip)) {
        char name[300];
        unz_file_info64 info;
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        std::wstring rel;
        for (const char* p = name; *p; ++p) rel += *p == '/' ? L'\\' : wchar_t(*p);
        if (rel.back() != L'\\') out.push_back(rel);
    }
    if (zip) unzClose(zip);
    DeleteFileW(zipPath.c_str());
    return out;
}

// A pack whose last file member's stored CRC no longer matches its bytes.
std::string WithBadLastCrc(std::string pack) {
    std::size_t central = pack.rfind("PK\x05\x06");
    for (;;) {  // back to the last file member (a folder member has no bytes to check)
        central = pack.rfind("PK\x01\x02", central - 1);
        std::uint16_t nameLength = 0;
        std::memcpy(&nameLength, &pack[central + 28], 2);
        if (pack[central + 46 + nameLength - 1] != '/') break;
    }
    std::uint32_t local = 0, crc = 0;
    std::memcpy(&local, &pack[central + 42], 4);
    std::memcpy(&crc, &pack[central + 16], 4);
    crc ^= 0x00010000;
    std::memcpy(&pack[central + 16], &crc, 4);
    std::memcpy(&pack[local + 14], &crc, 4);
    return pack;
}

BOOL CALLBACK FirstLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR out) {
    *reinterpret_cast<WORD*>(out) = language;
    return FALSE;
}

// A copy of the program whose embedded pack number `order` is replaced.
bool ReplacePack(const std::wstring& exe, int order, const std::string& bytes) {
    wchar_t name[16];
    wsprintfW(name, L"PACK%02d", order);
    WORD language = 0;
    HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    EnumResourceLanguagesW(image, MAKEINTRESOURCEW(10), name, FirstLanguage, reinterpret_cast<LONG_PTR>(&language));
    FreeLibrary(image);
    HANDLE update = BeginUpdateResourceW(exe.c_str(), FALSE);
    if (!update) return false;
    const bool ok = UpdateResourceW(update, MAKEINTRESOURCEW(10), name, language, const_cast<char*>(bytes.data()),
                                    DWORD(bytes.size()));
    return EndUpdateResourceW(update, !ok) && ok;
}

TEST_F(MainJob, AFirstStartKnowsNoFolderAndTheButtonWithNothingTickedDoesNothing) {
    ForgetGameFolder();
    ASSERT_TRUE(Start());
    EXPECT_EQ(gui::TextOf(Edit()), L"注：点击“浏览”，找到目录“英雄联盟”点确定");
    EXPECT_TRUE(TickedBoxes().empty());
    Click(L"修改");
    gui::Settle(1500);
    EXPECT_EQ(gui::TopLevelWindows(program_.pid).size(), 1u);  // the window, no box
}

TEST_F(MainJob, AnInstallWithoutAFolderAsksForOneAndUnticksTheFirstBox) {
    ForgetGameFolder();
    ASSERT_TRUE(Start());
    EXPECT_EQ(InstallAndRead(L"安装王者界面", L"信息："), L"请选择正确地址！");
    EXPECT_FALSE(Ticked(L"安装王者界面"));
    EXPECT_EQ(gui::TextOf(Edit()), L"\\Game");
    // Another ticked entry stays ticked; the first box is cleared all the same.
    EXPECT_EQ(InstallAndRead(L"安装亚索界面", L"信息："), L"请选择正确地址！");
    EXPECT_TRUE(Ticked(L"安装亚索界面"));
    EXPECT_EQ(GetFileAttributesW((game_ + L"\\Game\\wzCAFG.ZIP").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(MainJob, AtMostOneBoxIsTicked) {
    ForgetGameFolder();
    ASSERT_TRUE(Start());
    const std::pair<const wchar_t*, const wchar_t*> pairs[] = {
        {L"安装王者界面", L"安装钻石界面"}, {L"安装钻石界面", L"安装王者界面"},
        {L"还原原始界面", L"安装亚索界面"}, {L"安装亚索界面", L"还原原始界面"},
        {L"安装屠龙界面", L"安装Tron界面"}};
    for (const auto& [first, second] : pairs) {
        Click(first);
        Click(second);
        gui::Settle(100);
        const auto ticked = TickedBoxes();
        ASSERT_EQ(ticked.size(), 1u);
        EXPECT_EQ(ticked[0], second);
    }
    Click(L"安装Tron界面");  // the ticked one again
    gui::Settle(100);
    EXPECT_TRUE(TickedBoxes().empty());
}

TEST_F(MainJob, ARememberedFolderIsLoadedAndPickedAgainInTheBrowser) {
    RememberGameFolder();
    ASSERT_TRUE(Start());
    EXPECT_EQ(gui::TextOf(Edit()), game_);
    EXPECT_TRUE(IsWindowEnabled(Edit()));
    EXPECT_TRUE(IsWindowEnabled(Find(L"浏览")));

    // A cancelled browser empties the box and forgets nothing.
    HWND browser = OpenBrowser();
    ASSERT_TRUE(browser);
    gui::Press(GetDlgItem(browser, IDCANCEL));
    ASSERT_TRUE(gui::WaitGone(browser));
    gui::Settle(200);
    EXPECT_EQ(gui::TextOf(Edit()), L"");
    EXPECT_EQ(ReadAll(PathFile()), Gbk(game_));

    // One level up from the remembered folder the path holds no 英雄联盟:
    // refused without a word, and nothing is greyed or written.
    browser = OpenBrowser();
    ASSERT_TRUE(browser);
    HWND tree = nullptr;
    for (HWND h : gui::Children(browser))
        if (gui::ClassOf(h) == L"SysTreeView32") tree = h;
    ASSERT_TRUE(tree);
    PostMessageW(tree, WM_KEYDOWN, VK_LEFT, 0);
    PostMessageW(tree, WM_KEYUP, VK_LEFT, 0);
    gui::Settle(300);
    gui::Press(GetDlgItem(browser, IDOK));
    ASSERT_TRUE(gui::WaitGone(browser));
    gui::Settle(800);
    EXPECT_EQ(gui::TextOf(Edit()), folder_ + L"\\Games");
    EXPECT_EQ(gui::TopLevelWindows(program_.pid).size(), 1u);
    EXPECT_TRUE(IsWindowEnabled(Find(L"浏览")));
    EXPECT_EQ(ReadAll(PathFile()), Gbk(game_));

    // It opens at the remembered folder: OK picks it again.
    browser = OpenBrowser();
    ASSERT_TRUE(browser);
    gui::Press(GetDlgItem(browser, IDOK));
    HWND done = gui::WaitForBox(program_.pid, L"温馨提示:");
    ASSERT_TRUE(done);
    EXPECT_EQ(gui::BoxText(done), L"选择成功,开始选择功能吧！");
    gui::Press(GetDlgItem(done, IDOK));
    gui::WaitGone(done);
    EXPECT_EQ(gui::TextOf(Edit()), game_);
    EXPECT_FALSE(IsWindowEnabled(Edit()));
    EXPECT_FALSE(IsWindowEnabled(Find(L"浏览")));
    EXPECT_EQ(ReadAll(PathFile()), Gbk(game_));
}

TEST_F(MainJob, EveryEntryInstallsThroughTheWindow) {
    RememberGameFolder();
    ASSERT_TRUE(Start());
    struct { const wchar_t* box; const wchar_t* word; } entries[44] = {
        {L"安装王者界面", L"王者"}, {L"安装钻石界面", L"钻石"}, {L"还原原始界面", nullptr}, {L"安装恶魔界面", L"恶魔"},
        {L"安装暗黑界面", L"暗黑"}, {L"安装露露界面", L"露露"}, {L"安装圣诞界面", L"圣诞"}, {L"安装神族界面", L"神族"},
        {L"安装虫族界面", L"虫族"}, {L"安装蓝珠界面", L"蓝珠"}, {L"安装科幻界面", L"科幻"}, {L"安装狩猎界面", L"狩猎"},
        {L"安装黑框界面", L"黑框"}, {L"安装黄金界面", L"黄金"}, {L"安装Foxe界面", L"Foxe"}, {L"安装战地界面", L"战地"},
        {L"安装马年界面", L"马年"}, {L"安装Perb界面", L"Perb"}, {L"安装蓝色界面", L"蓝色"}, {L"安装酷绿界面", L"酷绿"},
        {L"安装屠龙界面", L"屠龙"}, {L"安装锤石界面", L"锤石"}, {L"安装鱼人界面", L"鱼人"}, {L"安装冰魄界面", L"冰魄"},
        {L"安装Kllv界面", L"Kllv"}, {L"安装安妮界面", L"安妮"}, {L"安装金色界面", L"金色"}, {L"安装打野界面", L"打野"},
        {L"安装透明界面", L"透明"}, {L"安装紫色界面", L"紫色"}, {L"安装娜美界面", L"娜美"}, {L"安装钻白界面", L"钻白"},
        {L"安装璐璐界面", L"璐璐"}, {L"安装瑞文界面", L"瑞文"}, {L"安装武器界面", L"武器"}, {L"安装辅助界面", L"辅助"},
        {L"安装虚空界面", L"虚空"}, {L"安装狼人界面", L"狼人"}, {L"安装冰兰界面", L"冰兰"}, {L"安装白翼界面", L"白翼"},
        {L"安装Tron界面", L"Tron"}, {L"安装铂金界面", L"铂金"}, {L"安装盲僧界面", L"盲僧"}, {L"安装亚索界面", L"亚索"}};
    const std::wstring target = game_ + L"\\Game";
    for (int i = 0; i < 44; ++i) {
        SCOPED_TRACE(i + 1);
        const std::wstring expected = entries[i].word
                                          ? L"修改成功,现在可以登陆游戏看看" + std::wstring(entries[i].word) + L"界面了！"
                                          : L"还原成功,已恢复官方原始默认界面！";
        if (!Ticked(entries[i].box)) Click(entries[i].box);
        // The button click alone: the box stays ticked from its click above.
        Click(L"修改");
        HWND done = gui::WaitForBox(program_.pid, L"温馨提示°", 30000);
        ASSERT_TRUE(done);
        EXPECT_EQ(gui::BoxText(done), expected);
        EXPECT_FALSE(IsWindowEnabled(Find(L"修改")));  // greyed until the box is closed
        EXPECT_FALSE(IsWindowEnabled(Find(L"浏览")));
        gui::Press(GetDlgItem(done, IDOK));
        gui::WaitGone(done);
        EXPECT_TRUE(IsWindowEnabled(Find(L"浏览")));  // as it was: a loaded folder leaves it usable
        EXPECT_EQ(gui::TextOf(Edit()), target);
        EXPECT_TRUE(ReadAll(target + L"\\wzCAFG.ZIP") == gui::PackResource(exe_, i + 1));
        int files = 0, folders = 0;
        ExpectExtracted(target + L"\\wzCAFG.ZIP", target, &files, &folders);
        if (i == 2) {
            EXPECT_EQ(files, 194);
        }
        const std::string list = ReadAll(target + L"\\ClientZips.txt");
        EXPECT_EQ(list.size() >= 10 && list.substr(list.size() - 10) == "wzCAFG.ZIP", i < 2);
    }
    EXPECT_TRUE(Leftovers(Snapshot(game_)).empty());
}

TEST_F(MainJob, AFileHeldByTheGameFailsTheWholeInstallAndChangesNothing) {
    RememberGameFolder();
    ASSERT_TRUE(Start());
    const std::wstring target = game_ + L"\\Game";
    ASSERT_EQ(InstallAndRead(L"安装暗黑界面"), L"修改成功,现在可以登陆游戏看看暗黑界面了！");
    // A file in the middle of the restore pack, held as a running client holds it.
    const auto members = FileMembers(gui::PackResource(exe_, 3), folder_);
    ASSERT_EQ(members.size(), 194u);
    const std::wstring middle = members[members.size() / 2];
    const std::wstring held = target + L"\\" + middle;
    ASSERT_TRUE(WriteAll(held, "the client's own copy"));
    const auto before = Snapshot(game_);
    HANDLE lock = CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    const std::wstring text = InstallAndRead(L"还原原始界面");
    CloseHandle(lock);
    EXPECT_EQ(text.substr(0, 5), L"修改失败：") << text;
    EXPECT_NE(text.find(L"正在被占用"), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"Game\\" + middle), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"关闭游戏"), std::wstring::npos) << text;
    const auto after = Snapshot(game_);
    EXPECT_EQ(Differences(before, after), "");
    EXPECT_TRUE(Leftovers(after).empty());
    // Nothing in the way any more: the same install lands.
    EXPECT_EQ(InstallAndRead(L"还原原始界面"), L"还原成功,已恢复官方原始默认界面！");
}

TEST_F(MainJob, ADamagedPackChangesNothingAndSaysSo) {
    RememberGameFolder();
    // A copy of the program whose restore pack has a wrong CRC in its last member.
    const std::wstring damaged = folder_ + L"\\VelmoraDamaged.exe";
    ASSERT_TRUE(CopyFileW(exe_.c_str(), damaged.c_str(), FALSE));
    const std::string bad = WithBadLastCrc(gui::PackResource(exe_, 3));
    ASSERT_TRUE(ReplacePack(damaged, 3, bad));
    ASSERT_TRUE(gui::PackResource(damaged, 3) == bad);
    window_ = StartPastNotice(damaged, &program_);
    ASSERT_TRUE(window_);
    ASSERT_EQ(InstallAndRead(L"安装黄金界面"), L"修改成功,现在可以登陆游戏看看黄金界面了！");
    const auto before = Snapshot(game_);
    const std::wstring text = InstallAndRead(L"还原原始界面");
    EXPECT_NE(text.find(L"界面包已损坏"), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"没有任何改动"), std::wstring::npos) << text;
    const auto after = Snapshot(game_);
    EXPECT_EQ(Differences(before, after), "");
    EXPECT_TRUE(Leftovers(after).empty());
    gui::Kill(program_);
    DeleteFileW(damaged.c_str());
}

TEST_F(MainJob, AnInstallCutShortIsRolledBackWhenTheProgramStarts) {
    const std::wstring cli = gui::EnvPath("VELMORA_EXTRACT_CLI");
    if (cli.empty()) GTEST_SKIP() << "VELMORA_EXTRACT_CLI names the extraction driver";
    RememberGameFolder();
    ASSERT_TRUE(Start());
    ASSERT_EQ(InstallAndRead(L"安装圣诞界面"), L"修改成功,现在可以登陆游戏看看圣诞界面了！");
    gui::Kill(program_);
    const std::wstring archive = folder_ + L"\\restore.zip";
    ASSERT_TRUE(WriteAll(archive, gui::PackResource(exe_, 3)));
    for (int k : {1, 97, 250}) {
        SCOPED_TRACE(k);
        const auto before = Snapshot(game_);
        // The restore pack's swap, ended by force after k renames.
        const std::string crash = "crash|" + Utf8(archive) + "|" + Utf8(game_ + L"\\Game") + "|" + std::to_string(k);
        ASSERT_EQ(RunDriver(cli, folder_, crash + "\n", nullptr), 3u);
        ASSERT_FALSE(Leftovers(Snapshot(game_)).empty());
        // The next start puts the old files back before its notice shows.
        ASSERT_TRUE(Start());
        const auto after = Snapshot(game_);
        EXPECT_EQ(Differences(before, after), "");
        EXPECT_TRUE(Leftovers(after).empty());
        gui::Kill(program_);
    }
}

TEST_F(MainJob, AStaleSetAsideCopyBesideThePlayersFileIsNeverInstalled) {
    RememberGameFolder();
    const std::wstring target = game_ + L"\\Game";
    gui::RemoveTree(target);
    CreateDirectoryW(target.c_str(), nullptr);
    ASSERT_TRUE(WriteAll(target + L"\\ClientZips.txt", "the player's own list"));
    // Left by a run whose journal is gone: by its name the player's original,
    // never installed and never deleted. The install refuses and says why.
    ASSERT_TRUE(WriteAll(target + L"\\ClientZips.txt.velmora-old", "stale bytes"));
    ASSERT_TRUE(Start());
    EXPECT_EQ(InstallAndRead(L"还原原始界面"),
              L"修改失败：游戏目录里有一个Velmora替换下来、尚未放回的原始文件：\r\nGame\\ClientZips.txt.velmora-old"
              L"\r\n\r\n它可能是您原来的文件，Velmora不会删除它。请把它移到别处保存后重试。\r\n游戏文件没有任何改动。");
    EXPECT_EQ(ReadAll(target + L"\\ClientZips.txt.velmora-old"), "stale bytes");
    EXPECT_EQ(ReadAll(target + L"\\ClientZips.txt"), "the player's own list");
    // Moved away by the player, the install lands.
    ASSERT_TRUE(DeleteFileW((target + L"\\ClientZips.txt.velmora-old").c_str()));
    EXPECT_EQ(InstallAndRead(L"还原原始界面"), L"还原成功,已恢复官方原始默认界面！");
    EXPECT_NE(ReadAll(target + L"\\ClientZips.txt"), "stale bytes");
    int files = 0, folders = 0;
    ExpectExtracted(target + L"\\wzCAFG.ZIP", target, &files, &folders);
    EXPECT_TRUE(Leftovers(Snapshot(game_)).empty());
}

TEST_F(MainJob, AnOriginalHeldWhileTheInstallIsUndoneIsToldAndPutBackLater) {
    RememberGameFolder();
    ASSERT_TRUE(Start());
    const std::wstring target = game_ + L"\\Game";
    // The restore pack's folders, then a theme over them.
    ASSERT_EQ(InstallAndRead(L"还原原始界面"), L"还原成功,已恢复官方原始默认界面！");
    ASSERT_EQ(InstallAndRead(L"安装暗黑界面"), L"修改成功,现在可以登陆游戏看看暗黑界面了！");
    const auto members = FileMembers(gui::PackResource(exe_, 3), folder_);
    const std::wstring middle = members[members.size() / 2];
    ASSERT_TRUE(WriteAll(target + L"\\" + middle, "the client's own copy"));
    const auto before = Snapshot(game_);
    // The middle file fails the swap (the game reads it and lets others
    // read it, but it cannot move); the game takes hold of the set-aside
    // ClientZips.txt as soon as it appears, so it cannot be put back yet.
    HANDLE lock = CreateFileW((target + L"\\" + middle).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    HoldWhenItAppears game(target + L"\\ClientZips.txt.velmora-old");
    bool errorIcon = false;
    shot_ = L"install_original_held_during_roll_back";
    const std::wstring text = InstallAndRead(L"还原原始界面", L"温馨提示°", &errorIcon);
    shot_.clear();
    ASSERT_TRUE(game.held());
    EXPECT_NE(text.find(L"Game\\" + middle), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"Game\\ClientZips.txt\r\n"), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"尚未恢复原样"), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"下次启动"), std::wstring::npos) << text;
    EXPECT_EQ(text.find(L"没有任何改动"), std::wstring::npos) << text;
    EXPECT_TRUE(errorIcon);
    game.Release();
    CloseHandle(lock);
    // The next start puts it back before its notice shows.
    gui::Kill(program_);
    ASSERT_TRUE(Start());
    const auto after = Snapshot(game_);
    EXPECT_EQ(Differences(before, after), "");
    EXPECT_TRUE(Leftovers(after).empty());
}

TEST_F(MainJob, ARecoveryThatCannotFinishIsToldAfterTheNoticeAndNamedByTheNextInstall) {
    const std::wstring cli = gui::EnvPath("VELMORA_EXTRACT_CLI");
    if (cli.empty()) GTEST_SKIP() << "VELMORA_EXTRACT_CLI names the extraction driver";
    RememberGameFolder();
    ASSERT_TRUE(Start());
    const std::wstring target = game_ + L"\\Game";
    ASSERT_EQ(InstallAndRead(L"安装露露界面"), L"修改成功,现在可以登陆游戏看看露露界面了！");
    gui::Kill(program_);
    const std::wstring archive = folder_ + L"\\restore.zip";
    ASSERT_TRUE(WriteAll(archive, gui::PackResource(exe_, 3)));
    ASSERT_EQ(RunDriver(cli, folder_, "crash|" + Utf8(archive) + "|" + Utf8(target) + "|40\n", nullptr), 3u);
    // The running game holds the set-aside ClientZips.txt.
    HANDLE lock = CreateFileW((target + L"\\ClientZips.txt.velmora-old").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    program_ = gui::Start(exe_);
    HWND notice = gui::WaitForBox(program_.pid, L"温馨提醒：");
    ASSERT_TRUE(notice);
    gui::Press(GetDlgItem(notice, IDOK));
    gui::WaitGone(notice);
    // Then, once, what could not be put back.
    HWND told = gui::WaitForBox(program_.pid, L"温馨提示°");
    ASSERT_TRUE(told);
    const std::wstring text = gui::BoxText(told);
    SaveShot(L"install_original_held_at_start_up");
    EXPECT_NE(text.find(L"Game\\ClientZips.txt\r\n"), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"尚未恢复原样"), std::wstring::npos) << text;
    EXPECT_NE(text.find(L"下次启动"), std::wstring::npos) << text;
    EXPECT_TRUE(ShowsErrorIcon(told));
    gui::Press(GetDlgItem(told, IDOK));
    gui::WaitGone(told);
    window_ = gui::WaitForWindow(program_.pid, kWindowTitle, L"VelmoraMainWindow");
    ASSERT_TRUE(window_);
    gui::Settle(200);
    // An install meanwhile names the held game file, not the journal.
    const std::wstring refused = InstallAndRead(L"安装亚索界面");
    EXPECT_EQ(refused.substr(0, 5), L"修改失败：") << refused;
    EXPECT_NE(refused.find(L"Game\\ClientZips.txt\r\n"), std::wstring::npos) << refused;
    EXPECT_EQ(refused.find(L"journal"), std::wstring::npos) << refused;
    EXPECT_NE(refused.find(L"尚未恢复原样"), std::wstring::npos) << refused;
    CloseHandle(lock);
    // The game closed: the next install puts the original back first, then lands.
    EXPECT_EQ(InstallAndRead(L"安装亚索界面"), L"修改成功,现在可以登陆游戏看看亚索界面了！");
    EXPECT_TRUE(Leftovers(Snapshot(game_)).empty());
}

TEST_F(MainJob, ClosingTheWindowDuringTheWaitWritesNothingAnywhere) {
    RememberGameFolder();
    ASSERT_TRUE(Start());
    const auto before = Snapshot(game_);
    const std::wstring root = L"Z:\\wzCAFG.ZIP";
    const bool rootHadOne = GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES;
    Click(L"安装亚索界面");
    Click(L"修改");
    PostMessageW(window_, WM_CLOSE, 0, 0);
    HWND ask = gui::WaitForBox(program_.pid, L"程序准备关闭中~~");
    ASSERT_TRUE(ask);
    gui::Press(GetDlgItem(ask, IDOK));
    DWORD code = 0;
    EXPECT_TRUE(gui::WaitForExit(program_, 10000, &code));
    EXPECT_EQ(Differences(before, Snapshot(game_)), "");
    EXPECT_EQ(GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES, rootHadOne);
}

}  // namespace
