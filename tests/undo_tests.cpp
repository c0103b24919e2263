// Taking an install back, on the real program through its window and tray
// menu: a game folder holding the player's own files (another HUD's files,
// an edited ini, files no pack has, a wzCAFG.ZIP of their own, with old
// times, read-only and hidden ones among them) comes back exactly as it was.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <string>

#include "ExtractDriver.h"
#include "FolderSnapshot.h"
#include "GuiDriver.h"
#include "ScratchProgram.h"
#include "TestFiles.h"
#include "TestText.h"

namespace {

const std::wstring kBoxTitle = L"温馨提示°";
// The menu down to the items that tell what is installed ("~": greyed).
const std::string kMenuHead = u8"显示主窗口|隐藏主窗口|-|关于软件|-|检查更新|-|官方网站|官方论坛|-|";
const std::string kUndoItem = u8"撤销修改（恢复原来的文件）";
constexpr int kUndoCommand = 8;  // counted from the top, separators skipped

FILETIME At(int year, int minute) {
    SYSTEMTIME st = {WORD(year), 3, 0, 5, 10, WORD(minute), 30, 0};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

// A copy of the program in a scratch folder of its own, and a game folder
// beside it that holds the player's own files.
class Undo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        copy_ = MakeScratchProgram(L"undo");
        folder_ = copy_.folder;
        exe_ = copy_.exe;
        gameFolder_ = copy_.gameFolder;
        game_ = gameFolder_ + L"\\Game";
        store_ = gameFolder_ + L"\\Velmora备份";
        // The program tells what its tray menu showed here.
        log_ = folder_ + L"\\tray.log";
        SetEnvironmentVariableW(L"VELMORA_TRAY_LOG", log_.c_str());
    }
    void SetUp() override {
        ASSERT_FALSE(gui::EnvPath("VELMORA_EXE").empty());
        if (Exists(gameFolder_)) ClearAttributes(gameFolder_);
        gui::RemoveTree(gameFolder_);
        ASSERT_FALSE(Exists(gameFolder_));
        MakePlayersGameFolder();
        ASSERT_TRUE(RememberGameFolder(copy_));
    }
    void TearDown() override { gui::Kill(program_); }

    // The player's game folder before Velmora ever ran on it.
    void MakePlayersGameFolder() {
        for (const wchar_t* f : {L"", L"\\Game", L"\\Game\\DATA", L"\\Game\\DATA\\Menu", L"\\Game\\DATA\\Menu\\HUD",
                                 L"\\Game\\DATA\\Menu\\HUD\\Elements", L"\\Game\\DATA\\Menu\\textures", L"\\Game\\Config"})
            ASSERT_TRUE(CreateDirectoryW((gameFolder_ + f).c_str(), nullptr));
        struct { const wchar_t* path; std::string bytes; DWORD attributes; } files[] = {
            // Its own pack archive, from another tool.
            {L"wzCAFG.ZIP", "PK\x03\x04 the player's own pack archive", FILE_ATTRIBUTE_READONLY},
            {L"ClientZips.txt", "Aatrox.zip\r\nAzir.zip\r\nYasuo.zip", FILE_ATTRIBUTE_ARCHIVE},
            // Another HUD's files, one of them in a letter case of its own.
            {L"DATA\\Menu\\fontconfig_zh_CN.txt", "another HUD's fonts", FILE_ATTRIBUTE_ARCHIVE},
            {L"DATA\\Menu\\textures\\hudatlas.dds", std::string(70000, 'A'), FILE_ATTRIBUTE_HIDDEN},
            // A layout file the player edited.
            {L"DATA\\Menu\\HUD\\Elements\\Elements01.ini", "[Edited]\r\nScale=1.25\r\n", FILE_ATTRIBUTE_READONLY},
            // Files no pack has.
            {L"DATA\\Menu\\HUD\\Elements\\MyLayout.ini", "[Mine]\r\n", FILE_ATTRIBUTE_ARCHIVE},
            {L"DATA\\Menu\\玩家说明.txt", "my notes", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY},
            {L"Config\\game.cfg", "[General]\r\nWidth=1920\r\n", FILE_ATTRIBUTE_ARCHIVE},
        };
        int minute = 0;
        for (const auto& f : files) {
            const std::wstring path = game_ + L"\\" + f.path;
            ASSERT_TRUE(WriteAll(path, f.bytes));
            HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            const FILETIME created = At(2018, minute), accessed = At(2020, minute), written = At(2019, minute);
            ++minute;
            ASSERT_TRUE(SetFileTime(h, &created, &accessed, &written));
            CloseHandle(h);
            ASSERT_TRUE(SetFileAttributesW(path.c_str(), f.attributes));
        }
        // A file outside Game, beside where the store goes.
        ASSERT_TRUE(WriteAll(gameFolder_ + L"\\TCLS.ini", "launcher"));
    }

    HWND Start() { return window_ = StartPastNotice(exe_, &program_); }
    void Restart() {
        gui::Kill(program_);
        ASSERT_TRUE(Start());
    }
    void Click(const std::wstring& caption) {
        HWND h = gui::ChildWithText(window_, caption);
        ASSERT_TRUE(h);
        const POINT c = gui::Centre(h);
        gui::ClickControlAt(c.x, c.y);
    }
    // Waits for a box of ours with this title that is not `besides`.
    HWND WaitForNewBox(HWND besides, DWORD ms = 30000) {
        for (DWORD waited = 0; waited < ms; waited += 20, Sleep(20))
            for (HWND h : gui::TopLevelWindows(program_.pid))
                if (h != besides && gui::ClassOf(h) == L"#32770" && gui::TextOf(h) == kBoxTitle) return h;
        return nullptr;
    }
    // Installs an entry through the window; the text of the box that ends it.
    std::wstring Install(const std::wstring& box) {
        if (SendMessageW(gui::ChildWithText(window_, box), BM_GETCHECK, 0, 0) != BST_CHECKED) Click(box);
        Click(L"修改");
        HWND done = WaitForNewBox(nullptr);
        if (!done) return L"<no box>";
        const std::wstring text = gui::BoxText(done);
        gui::Press(GetDlgItem(done, IDOK));
        gui::WaitGone(done);
        gui::Settle(100);
        return text;
    }
    // The tray menu as the program last showed it.
    std::string MenuShows() {
        gui::ClickTrayIcon(true);
        HWND menu = nullptr;
        for (int i = 0; i < 100 && !menu; ++i, Sleep(20)) menu = FindWindowW(L"#32768", nullptr);
        if (!menu) return "<no menu>";
        gui::Key(VK_ESCAPE);
        gui::WaitGone(menu);
        const std::string all = ReadAll(log_);
        const std::size_t at = all.rfind("\nmenu ");
        if (at == std::string::npos && all.compare(0, 5, "menu ") != 0) return "<not told>";
        const std::size_t from = at == std::string::npos ? 5 : at + 6;
        return all.substr(from, all.find('\n', from) - from);
    }
    static std::string Shows(const std::string& installed, bool undoable = true) {
        // A theme the game patched files of can be installed again from under the line.
        const std::size_t patched = installed.find(u8"（");
        const std::string again = patched == std::string::npos ? "" : u8"重新安装「" + installed.substr(0, patched) + u8"」|";
        return kMenuHead + u8"~当前界面：" + installed + "|" + again + (undoable ? "" : "~") + kUndoItem + u8"|-|退出";
    }
    // The menu's n-th command as it shows now: one further down under a re-install item.
    int UndoCommandNow() {
        return MenuShows().find(u8"重新安装") == std::string::npos ? kUndoCommand : kUndoCommand + 1;
    }
    // 撤销修改 from the tray menu: the question's text, then (on OK) the
    // text of the box that ends it; "<no question>" when none came.
    std::wstring ChooseUndo(bool ok, std::wstring* question = nullptr) {
        if (!gui::ChooseTrayMenuItem(UndoCommandNow())) return L"<no menu>";
        HWND ask = WaitForNewBox(nullptr, 3000);
        if (!ask) return L"<no question>";
        if (question) *question = gui::BoxText(ask);
        gui::Press(GetDlgItem(ask, ok ? IDOK : IDCANCEL));
        gui::WaitGone(ask);
        if (!ok) return L"<cancelled>";
        HWND done = WaitForNewBox(ask);
        if (!done) return L"<no box>";
        const std::wstring text = gui::BoxText(done);
        gui::Press(GetDlgItem(done, IDOK));
        gui::WaitGone(done);
        return text;
    }

    static ScratchProgram copy_;
    static std::wstring folder_, exe_, gameFolder_, game_, store_, log_;
    gui::Program program_;
    HWND window_ = nullptr;
};
ScratchProgram Undo::copy_;
std::wstring Undo::folder_, Undo::exe_, Undo::gameFolder_, Undo::game_, Undo::store_, Undo::log_;

const std::wstring kQuestion =
    L"确定要撤销修改，恢复原来的文件吗？\r\n\r\n"
    L"Velmora将删除它添加的界面文件，并把被它替换的文件恢复成第一次修改之前的样子。";

TEST_F(Undo, WithNothingInstalledTheMenuSaysOriginalAndTheUndoIsGreyed) {
    const Tree before = Snapshot(gameFolder_);
    ASSERT_TRUE(Start());
    EXPECT_EQ(MenuShows(), Shows(u8"原始", false));
    // A greyed item cannot be chosen: no question comes.
    EXPECT_EQ(ChooseUndo(true), L"<no question>");
    EXPECT_EQ(Differences(before, Snapshot(gameFolder_)), "");
}

TEST_F(Undo, TwoInstallsTakenBackLeaveTheGameFolderExactlyAsItWas) {
    const Tree before = Snapshot(gameFolder_);
    ASSERT_TRUE(Start());
    ASSERT_EQ(Install(L"安装王者界面"), L"修改成功,现在可以登陆游戏看看王者界面了！");
    EXPECT_EQ(MenuShows(), Shows(u8"王者"));
    EXPECT_TRUE(Exists(store_));
    ASSERT_EQ(Install(L"安装钻石界面"), L"修改成功,现在可以登陆游戏看看钻石界面了！");
    EXPECT_EQ(MenuShows(), Shows(u8"钻石"));
    Restart();
    EXPECT_EQ(MenuShows(), Shows(u8"钻石"));

    // Cancel changes nothing (our files were read to show the menu: only their access times may move).
    const Tree installed = WithoutAccessTimes(Snapshot(gameFolder_));
    std::wstring question;
    EXPECT_EQ(ChooseUndo(false, &question), L"<cancelled>");
    EXPECT_EQ(question, kQuestion);
    EXPECT_EQ(Differences(installed, WithoutAccessTimes(Snapshot(gameFolder_))), "");

    EXPECT_EQ(ChooseUndo(true), L"撤销成功,已恢复原来的文件！");
    // The pack archive, the edited ini, the other HUD's files in their own
    // letter case, their times and attributes: all as they were; the files
    // and folders the installs added are gone, and so is the store.
    EXPECT_EQ(Differences(before, Snapshot(gameFolder_)), "");
    EXPECT_FALSE(Exists(store_));
    EXPECT_EQ(MenuShows(), Shows(u8"原始", false));
}

TEST_F(Undo, AFileTheGamePatchedSinceStaysAndTheBoxSaysSo) {
    Tree before = Snapshot(gameFolder_);
    ASSERT_TRUE(Start());
    ASSERT_EQ(Install(L"安装王者界面"), L"修改成功,现在可以登陆游戏看看王者界面了！");
    ASSERT_EQ(Install(L"安装钻石界面"), L"修改成功,现在可以登陆游戏看看钻石界面了！");
    // The game's update writes its own fontconfig over ours.
    const std::wstring patched = game_ + L"\\DATA\\Menu\\fontconfig_zh_CN.txt";
    ASSERT_TRUE(WriteAll(patched, "the game's new fonts"));
    EXPECT_EQ(MenuShows(), Shows(u8"钻石（1个文件已被游戏更新）"));
    Restart();
    EXPECT_EQ(MenuShows(), Shows(u8"钻石（1个文件已被游戏更新）"));

    // Asked first: the question says how many files the game patched, and
    // that their pre-theme versions will not be kept.
    std::wstring question;
    const std::wstring text = ChooseUndo(true, &question);
    EXPECT_EQ(question, kQuestion + L"\r\n\r\n注意：有1个文件在修改之后已被游戏更新，将保留游戏的新文件，"
                                    L"这1个文件修改之前的原始文件将不再保留。");
    EXPECT_EQ(text.substr(0, 14), L"撤销成功,已恢复原来的文件！") << text.size();
    EXPECT_NE(text.find(L"1个文件"), std::wstring::npos);
    EXPECT_NE(text.find(L"已被游戏更新"), std::wstring::npos);
    EXPECT_NE(text.find(L"Game\\DATA\\Menu\\fontconfig_zh_CN.txt"), std::wstring::npos);
    // Everything else as it was; the patched file as the game left it.
    const Tree after = Snapshot(gameFolder_);
    const std::wstring key = L"\\Game\\DATA\\Menu\\fontconfig_zh_CN.txt";
    ASSERT_TRUE(after.count(key));
    EXPECT_EQ(after.at(key).bytes, "the game's new fonts");
    before[key] = after.at(key);
    EXPECT_EQ(Differences(before, after), "");
    EXPECT_FALSE(Exists(store_));
    EXPECT_EQ(MenuShows(), Shows(u8"原始", false));
}

TEST_F(Undo, AnUndoEndedAtAnyStepIsRolledBackOrFinishedWhenTheProgramStarts) {
    const std::wstring cli = gui::EnvPath("VELMORA_EXTRACT_CLI");
    if (cli.empty()) GTEST_SKIP() << "VELMORA_EXTRACT_CLI names the extraction driver";
    Tree original = Snapshot(gameFolder_);
    ASSERT_TRUE(Start());
    ASSERT_EQ(Install(L"安装王者界面"), L"修改成功,现在可以登陆游戏看看王者界面了！");
    ASSERT_EQ(Install(L"安装钻石界面"), L"修改成功,现在可以登陆游戏看看钻石界面了！");
    gui::Kill(program_);
    // Since the installs: one file of ours is gone (its kept original comes
    // back where nothing stands), and one holds its original's bytes again
    // (the kept copy goes, checked against it after DONE).
    const std::wstring gone = L"\\Game\\ClientZips.txt", again = L"\\Game\\DATA\\Menu\\fontconfig_zh_CN.txt";
    ASSERT_TRUE(DeleteFileW((gameFolder_ + gone).c_str()));
    ASSERT_TRUE(WriteAll(gameFolder_ + again, original.at(again).bytes));
    const Tree installed = Snapshot(gameFolder_);
    const std::wstring pristine = folder_ + L"\\pristine";
    if (Exists(pristine)) ClearAttributes(pristine);
    gui::RemoveTree(pristine);
    ASSERT_TRUE(CopyTree(gameFolder_, pristine));
    // Undone, the folder is the player's again, but for the file written
    // back: it stays as it was written (the undo may read it).
    original[again] = installed.at(again);
    const auto looking = [&](const Tree& want) {
        Tree got = Snapshot(gameFolder_);
        if (got.count(again) && want.count(again)) got[again].accessed = want.at(again).accessed;
        return Differences(want, got);
    };

    // The whole undo, as the program runs it, step by step: it gives back the player's folder.
    const std::string undo = "undo|" + Utf8(game_) + "\n";
    std::string trace;
    ASSERT_EQ(RunDriver(cli, folder_, "trace\n" + undo, &trace), 0u);
    trace = "\n" + trace;
    ASSERT_NE(trace.find("undone 0 left"), std::string::npos) << trace;
    ASSERT_EQ(looking(original), "");
    int steps = 0, done = 0, flushes = 0;
    for (std::size_t at = 0; (at = trace.find("\nstep ", at)) != std::string::npos; at += 6) {
        ++steps;
        const std::size_t kind = trace.find(' ', at + 6) + 1;
        if (trace.compare(kind, 5, "done ") == 0) done = steps;
        if (trace.compare(kind, 6, "flush ") == 0) ++flushes;
    }
    ASSERT_GT(done, 0);
    // Every kind of step is ended at: the journal's flushes, the original
    // put back where nothing stood, and the kept copy dropped after DONE
    // because its bytes stand again.
    const auto stepOn = [&](const std::string& kind, const std::string& tail) {
        for (std::size_t at = 0; (at = trace.find("\nstep ", at)) != std::string::npos; at += 6) {
            const std::size_t from = trace.find(' ', at + 6) + 1, end = trace.find_first_of("\r\n", from);
            const std::string line = trace.substr(from, end - from);
            if (line.compare(0, kind.size() + 1, kind + " ") == 0 && line.size() >= tail.size() &&
                line.compare(line.size() - tail.size(), tail.size(), tail) == 0)
                return true;
        }
        return false;
    };
    EXPECT_GT(flushes, 0) << trace;
    EXPECT_TRUE(stepOn("rename", u8"\\originals\\ClientZips.txt")) << trace;
    EXPECT_TRUE(stepOn("delete", u8"\\originals\\DATA\\Menu\\fontconfig_zh_CN.txt")) << trace;
    std::printf("the undo takes %d steps (%d flushes), DONE is step %d\n", steps, flushes, done);

    for (int k = 1; k <= steps; ++k) {
        SCOPED_TRACE(k);
        ClearAttributes(gameFolder_);
        gui::RemoveTree(gameFolder_);
        ASSERT_TRUE(CopyTree(pristine, gameFolder_));
        ASSERT_EQ(RunDriver(cli, folder_, "killat|" + std::to_string(k) + "\n" + undo, nullptr), 3u);
        // The next start finishes or rolls back before its notice shows.
        program_ = gui::Start(exe_);
        HWND notice = gui::WaitForBox(program_.pid, L"温馨提醒：", 30000);
        if (!notice)
            for (HWND h : gui::TopLevelWindows(program_.pid, false))
                std::printf("window %ls / %ls\n", gui::TextOf(h).c_str(), gui::ClassOf(h).c_str());
        ASSERT_TRUE(notice);
        gui::Kill(program_);
        EXPECT_EQ(looking(k <= done ? installed : original), "");
    }
}

TEST_F(Undo, AThemeTheGamePatchedIsInstalledAgainFromTheMenu) {
    ASSERT_TRUE(Start());
    ASSERT_EQ(Install(L"安装钻石界面"), L"修改成功,现在可以登陆游戏看看钻石界面了！");
    EXPECT_EQ(MenuShows(), Shows(u8"钻石"));
    const Tree installed = WithoutAccessTimes(Snapshot(gameFolder_));
    // A game patch puts its own files over two of ours.
    ASSERT_TRUE(WriteAll(game_ + L"\\DATA\\Menu\\fontconfig_zh_CN.txt", "the game's new fonts"));
    ASSERT_TRUE(WriteAll(game_ + L"\\ClientZips.txt", "Aatrox.zip\r\nAzir.zip"));
    EXPECT_EQ(MenuShows(), Shows(u8"钻石（2个文件已被游戏更新）"));

    // The item under the line installs the recorded entry again, with the install's own box.
    ASSERT_TRUE(gui::ChooseTrayMenuItem(kUndoCommand));
    HWND done = WaitForNewBox(nullptr);
    ASSERT_TRUE(done);
    EXPECT_EQ(gui::BoxText(done), L"修改成功,现在可以登陆游戏看看钻石界面了！");
    gui::Press(GetDlgItem(done, IDOK));
    gui::WaitGone(done);
    EXPECT_EQ(MenuShows(), Shows(u8"钻石"));
    // What the first install wrote, back in place; the store still holds the player's originals.
    const Tree again = WithoutAccessTimes(Snapshot(gameFolder_));
    for (const wchar_t* file : {L"\\Game\\DATA\\Menu\\fontconfig_zh_CN.txt", L"\\Game\\ClientZips.txt"}) {
        ASSERT_TRUE(again.count(file) && installed.count(file));
        EXPECT_EQ(again.at(file).bytes, installed.at(file).bytes);
    }
    // And the undo still takes everything back to the player's own files.
    EXPECT_EQ(ChooseUndo(true).substr(0, 14), L"撤销成功,已恢复原来的文件！");
    EXPECT_EQ(MenuShows(), Shows(u8"原始", false));
}

}  // namespace
