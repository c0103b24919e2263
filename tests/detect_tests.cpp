// Finding the game for the player: a running client, an uninstall entry and
// the usual folders on a fixed drive, each a stand-in made here; then the
// real program's folder browser opening at what was found, a path file
// winning over it, and nothing found leaving the browser as it was.
// D: is a folder of this suite's (tests/CMakeLists.txt maps it).
#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <string>

#include "GuiDriver.h"
#include "ScratchProgram.h"
#include "TestFiles.h"
#include "TestText.h"
#include "gamefolder/GameDetect.h"
#include "runtime/Encoding.h"

namespace {

// Started as a stand-in for the game client: it only waits to be ended.
const bool g_standIn = [] {
    if (wcsstr(GetCommandLineW(), L"--client-stand-in")) {
        Sleep(120000);
        ExitProcess(0);
    }
    return false;
}();

const wchar_t kEntryKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VelmoraTestLoL";
const std::wstring kUsualFolder = L"D:\\腾讯游戏\\英雄联盟";

std::wstring Detected() { return GbkToWide(DetectGameFolder()); }

bool MakeFolders(const std::wstring& path) {
    for (std::size_t at = 3; at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Detect : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = gui::EnvPath("VELMORA_SCRATCH") + L"\\detect";
        gui::RemoveTree(scratch_);
        ASSERT_TRUE(MakeFolders(scratch_));
        gui::RemoveTree(L"D:\\腾讯游戏");
        ASSERT_EQ(GetDriveTypeW(L"D:\\"), UINT(DRIVE_FIXED)) << "the suite's D: is not there";
        RemoveEntry();
    }
    void TearDown() override {
        gui::Kill(client_);
        RemoveEntry();
        gui::RemoveTree(L"D:\\腾讯游戏");
    }
    static void RemoveEntry() {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kEntryKey, view, 0);
    }
    // An uninstall entry in the 32-bit programs' view, as the client's installer writes it.
    void AddEntry(const std::wstring& location) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kEntryKey, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr,
                                  &key, nullptr),
                  ERROR_SUCCESS);
        const std::wstring name = L"英雄联盟";
        RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                       DWORD((name.size() + 1) * 2));
        const std::wstring uninstall = L"\"" + location + L"\\TCLS\\uninst.exe\" /S";
        RegSetValueExW(key, L"UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(uninstall.c_str()),
                       DWORD((uninstall.size() + 1) * 2));
        RegCloseKey(key);
    }
    // This test program copied as the client, running from inside a game folder.
    void StartClient(const std::wstring& gameFolder, const wchar_t* name) {
        ASSERT_TRUE(MakeFolders(gameFolder + L"\\Game"));
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        const std::wstring exe = gameFolder + L"\\Game\\" + name;
        ASSERT_TRUE(CopyFileW(self, exe.c_str(), FALSE));
        std::wstring command = L"\"" + exe + L"\" --client-stand-in";
        STARTUPINFOW si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        ASSERT_TRUE(CreateProcessW(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
        CloseHandle(pi.hThread);
        client_.process = pi.hProcess;
        client_.pid = pi.dwProcessId;
        Sleep(300);
    }

    std::wstring scratch_;
    gui::Program client_;
};

TEST_F(Detect, TheRunningClientThenTheUninstallEntryThenTheUsualFolder) {
    EXPECT_EQ(Detected(), L"");
    // The usual folder counts only with a Game folder in it.
    ASSERT_TRUE(MakeFolders(kUsualFolder));
    EXPECT_EQ(Detected(), L"");
    ASSERT_TRUE(MakeFolders(kUsualFolder + L"\\Game"));
    EXPECT_EQ(Detected(), kUsualFolder);

    // An entry naming a folder that holds no Game folder is passed over; one that does comes first.
    const std::wstring registered = scratch_ + L"\\安装\\英雄联盟";
    ASSERT_TRUE(MakeFolders(registered + L"\\TCLS"));
    AddEntry(registered);
    EXPECT_EQ(Detected(), kUsualFolder);
    ASSERT_TRUE(MakeFolders(registered + L"\\Game"));
    EXPECT_EQ(Detected(), registered);

    // A Client.exe outside any 英雄联盟 folder is not the game's.
    StartClient(scratch_ + L"\\其他游戏", L"Client.exe");
    EXPECT_EQ(Detected(), registered);
    gui::Kill(client_);
    const std::wstring running = scratch_ + L"\\运行中\\英雄联盟";
    StartClient(running, L"League of Legends.exe");
    EXPECT_EQ(Detected(), running);

    // Figures, not a pass mark: the look at start-up (the machine is shared, the bound generous).
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) Detected();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count() / 10;
    std::printf("game detection: %.1f ms a look\n", ms);
    EXPECT_LT(ms, 2000);
}

// The real program, through its window.
class DetectInWindow : public Detect {
protected:
    void SetUp() override {
        Detect::SetUp();
        ASSERT_FALSE(gui::EnvPath("VELMORA_EXE").empty());
        copy_ = MakeScratchProgram(L"detect_window");
    }
    void TearDown() override {
        gui::Kill(program_);
        Detect::TearDown();
    }
    // 浏览, then OK on the browser's first selection: the path the window then shows.
    std::wstring BrowseAndAccept() {
        window_ = StartPastNotice(copy_.exe, &program_);
        if (!window_) return L"<no window>";
        HWND browse = gui::ChildWithText(window_, L"浏览");
        const POINT c = gui::Centre(browse);
        gui::ClickControlAt(c.x, c.y);
        HWND dialog = nullptr;
        for (int i = 0; i < 200 && !dialog; ++i, Sleep(25))
            for (HWND w : gui::TopLevelWindows(program_.pid))
                if (gui::ClassOf(w) == L"#32770" && gui::ChildWithText(w, L"请选择LOL目录文件夹")) dialog = w;
        if (!dialog) return L"<no browser>";
        gui::Settle(500);
        gui::Press(GetDlgItem(dialog, IDOK));
        gui::WaitGone(dialog);
        // An accepted pick says so in a box.
        if (HWND said = gui::WaitForBox(program_.pid, L"温馨提示:", 3000)) {
            gui::Press(GetDlgItem(said, IDOK));
            gui::WaitGone(said);
        }
        for (HWND h : gui::Children(window_))
            if (gui::ClassOf(h) == L"Edit") return gui::TextOf(h);
        return L"<no edit box>";
    }

    ScratchProgram copy_;
    gui::Program program_;
    HWND window_ = nullptr;
};

TEST_F(DetectInWindow, TheBrowserOpensAtTheFoundFolderAndAPathFileWins) {
    ASSERT_TRUE(MakeFolders(kUsualFolder + L"\\Game"));
    EXPECT_EQ(BrowseAndAccept(), kUsualFolder);
    EXPECT_EQ(ReadAll(copy_.PathFile()), WideToGbk(kUsualFolder));
    gui::Kill(program_);

    // A path file of the player's: the browser opens there, not at what would be found.
    ASSERT_TRUE(MakeFolders(copy_.gameFolder + L"\\Game"));
    ASSERT_TRUE(RememberGameFolder(copy_));
    EXPECT_EQ(BrowseAndAccept(), copy_.gameFolder);
}

TEST_F(DetectInWindow, WithNothingFoundTheBrowserOpensAsBefore) {
    const std::wstring shown = BrowseAndAccept();
    EXPECT_EQ(shown.find(L"英雄联盟"), std::wstring::npos) << shown.size();
    EXPECT_FALSE(GetFileAttributesW(copy_.PathFile().c_str()) != INVALID_FILE_ATTRIBUTES);
}

}  // namespace
