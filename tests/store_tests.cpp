// The backup store's record and the hashes it keeps, on real files.
#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "GuiDriver.h"
#include "TestFiles.h"
#include "runtime/Encoding.h"
#include "runtime/LongPath.h"
#include "install/BackupRecord.h"
#include "install/BackupStore.h"
#include "install/InstalledState.h"
#include "install/FileHash.h"
#include "runtime/Dialogs.h"
#include "install/FolderLock.h"
#include "themes/InstallMessages.h"
#include "themes/InstallThemePack.h"
#include "themes/UndoInstalls.h"

namespace {

// A scratch folder of this test's own, as an extended path.
class Scratch : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        root_ = ExtendedPath(std::wstring(temp) + L"velmora-store-tests");
        gui::RemoveTree(root_);
        ASSERT_TRUE(CreateDirectoryW(root_.c_str(), nullptr));
    }
    void TearDown() override { gui::RemoveTree(root_); }
    std::wstring root_;
};

BackupRecord SampleRecord() {
    BackupRecord r;
    r.entry = 2;
    r.word = "钻石";
    r.time = "2024-05-01T12:34:56Z";
    r.folders = {L"Data\\Menu_SC4", L"Data\\Menu_SC4\\新 folder"};
    r.files.push_back({L"wzCAFG.ZIP", FileHash{0x1234abcd, 596}, FileHash{0xffffffff, 2503656}, 0x01d4d33d0f13ab00ull});
    r.files.push_back({L"Data\\Menu_SC4\\Panel 01.dds", std::nullopt, FileHash{0, 0}, 0});
    r.files.push_back({L"DATA\\Menu\\界面.ini", FileHash{0x0000000f, 5000000000ull}, FileHash{7, 8}, 1});
    return r;
}

TEST(Record, ReadsBackWhatWasWrittenAndTrustsNothingElse) {
    const BackupRecord r = SampleRecord();
    const std::string text = FormatRecord(r);
    BackupRecord back;
    ASSERT_TRUE(ParseRecord(text, &back)) << text;
    EXPECT_EQ(back.entry, 2);
    EXPECT_EQ(back.word, r.word);
    EXPECT_EQ(back.time, r.time);
    EXPECT_EQ(back.folders, r.folders);
    ASSERT_EQ(back.files.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back.files[i].relative, r.files[i].relative);
        EXPECT_EQ(back.files[i].original.has_value(), r.files[i].original.has_value());
        if (r.files[i].original) {
            EXPECT_TRUE(*back.files[i].original == *r.files[i].original);
        }
        EXPECT_TRUE(back.files[i].installed == r.files[i].installed);
        EXPECT_EQ(back.files[i].written, r.files[i].written);
    }
    // The largest size there is still reads back.
    BackupRecord big;
    ASSERT_TRUE(ParseRecord(text + "file - 0000abcd:18446744073709551615 - x\n", &big));
    EXPECT_EQ(big.files.back().installed.size, 18446744073709551615ull);
    // Found whatever the letter case, as Windows finds files.
    EXPECT_TRUE(FindRecorded(back, L"data\\menu\\界面.INI"));
    EXPECT_FALSE(FindRecorded(back, L"DATA\\Menu"));
    EXPECT_TRUE(HasFolder(back, L"DATA\\MENU_SC4"));

    // A record cut short, of another version, or naming places outside Game
    // (an undo deletes what it names) is not acted on.
    const std::string line = "file - 00000000:0 - ";
    const std::string broken[] = {
        text.substr(0, text.size() - 1),
        "VELMORA-RECORD 2\n" + text.substr(text.find('\n') + 1),
        text + line + "..\\..\\Windows\\win.ini\n",
        text + line + "C:\\boot.ini\n",
        text + line + "\\Game\\x\n",
        text + line + "DATA\\\\x\n",
        text + line + "DATA\\.\\x\n",
        text + line + "wzcafg.zip\n",
        text + "file - 0000000:0 - x\n",
        text + "file 0000000g:1 00000000:0 - x\n",
        text + "file - 00000000:0 01d4d33d0f13ab0 x\n",
        text + "file - 00000000:0 x\n",
        // The boundaries of each field: an empty or signed size, one past 64 bits, a CRC of 7 or 9
        // digits, a time of 15 or 17, an empty or doubled space, a level that Windows would name otherwise
        // (a trailing space or dot), an entry that is not a whole number.
        text + "file - 0000abcd: - x\n",
        text + "file 0000abcd: 00000000:0 - x\n",
        text + "file - 0000abcd:+1 - x\n",
        text + "file - 0000abcd:-1 - x\n",
        text + "file - 0000abcd:18446744073709551616 - x\n",
        text + "file - 0000abcd:99999999999999999999999 - x\n",
        text + "file - 0000abcd1:0 - x\n",
        text + "file - 0000abc:01 - x\n",
        text + "file - 00000000:0 01d4d33d0f13ab000 x\n",
        text + "file - 00000000:0 - x \n",
        text + "file - 00000000:0 - DATA.\\x\n",
        text + "file  - 00000000:0 - x\n",
        text + "file - 00000000:0 - \n",
        text + "file - 00000000:0 -\n",
        "VELMORA-RECORD 1\nlast 1x 2024-05-01T12:34:56Z 王者\n",
        "VELMORA-RECORD 1\nlast 0 2024-05-01T12:34:56Z 王者\n",
        "VELMORA-RECORD 1\nlast 99999999999 2024-05-01T12:34:56Z 王者\n",
        "VELMORA-RECORD 1\nlast 1 2024-05-01T12:34:56Z \n",
        "VELMORA-RECORD 1\nlast 1 2024-05-01T12:34:56Z 王者\nlast 1 2024-05-01T12:34:56Z 王者\n",
        text + "folder ..\n",
        // Our own names, in any letter case: an undo renames and deletes what the record names.
        text + line + "DATA\\Menu\\a.ini.velmora-old\n",
        text + line + "DATA\\x.VELMORA-NEW\\a.ini\n",
        text + line + "velmora-install.Velmora-Journal\n",
        text + "folder DATA\\Menu.velmora-new\n",
        text + "whatever x\n",
        "VELMORA-RECORD 1\nfile - 00000000:0 - x\n",
        std::string(),
    };
    for (const std::string& b : broken) {
        BackupRecord ignored;
        EXPECT_FALSE(ParseRecord(b, &ignored)) << b;
    }
}

TEST_F(Scratch, AHashIsTheZipCrcAndSizeAndReadingAnOriginalKeepsItsAccessTime) {
    const std::wstring file = root_ + L"\\a 文件.dds";
    std::string bytes(200000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = char(i * 7 + i / 251);
    ASSERT_TRUE(WriteAll(file, bytes));
    // Old times, as a player's file has.
    HANDLE h = CreateFileW(file.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    SYSTEMTIME st = {2019, 3, 0, 5, 10, 20, 30, 0};
    FILETIME written, accessed;
    SystemTimeToFileTime(&st, &written);
    accessed = written;
    accessed.dwLowDateTime += 20000000;
    ASSERT_TRUE(SetFileTime(h, nullptr, &accessed, &written));
    CloseHandle(h);
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);

    FileHash hash;
    ASSERT_EQ(HashOriginal(file, &hash), HashResult::Hashed);
    EXPECT_TRUE(hash == HashBytes(ByteSpan(bytes.data(), bytes.size())));
    EXPECT_EQ(hash.size, 200000u);
    // zlib's CRC-32 of "123456789" is the well-known check value.
    EXPECT_EQ(HashBytes(ByteSpan("123456789", 9)).crc, 0xCBF43926u);
    WIN32_FILE_ATTRIBUTE_DATA after;
    ASSERT_TRUE(GetFileAttributesExW(file.c_str(), GetFileExInfoStandard, &after));
    EXPECT_EQ(CompareFileTime(&after.ftLastAccessTime, &accessed), 0);
    EXPECT_EQ(CompareFileTime(&after.ftLastWriteTime, &written), 0);
    EXPECT_TRUE(after.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(after.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);

    // No file there, or a folder: missing.
    EXPECT_EQ(HashFile(root_ + L"\\none", &hash), HashResult::Missing);
    EXPECT_EQ(HashFile(root_, &hash), HashResult::Missing);
    EXPECT_EQ(HashFile(root_ + L"\\none\\x", &hash), HashResult::Missing);
    SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(Scratch, TheStateCountsTheFilesTheUndoWillLeaveAsTheGameHasThem) {
    const std::wstring folder = root_ + L"\\英雄联盟";
    const std::wstring game = folder + L"\\Game";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(game.c_str(), nullptr));
    EXPECT_EQ(StoreFolder(game), folder + L"\\Velmora备份");
    // Nothing installed yet.
    EXPECT_EQ(ReadInstalledState(game).record, RecordRead::None);

    const std::string kept = "installed bytes", patched = "INSTALLED BYTES";
    BackupRecord r;
    r.entry = 1;
    r.word = "王者";
    r.time = RecordTimeNow();
    const auto writeAt = [&](const wchar_t* name, const std::string& bytes, int year) {
        const std::wstring path = game + L"\\" + name;
        ASSERT_TRUE(WriteAll(path, bytes));
        HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        SYSTEMTIME st = {WORD(year), 3, 0, 5, 10, 20, 30, 0};
        FILETIME ft;
        SystemTimeToFileTime(&st, &ft);
        ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
        CloseHandle(h);
    };
    const std::string before = "the player's own";  // of another size than ours
    const FileHash original = HashBytes(ByteSpan(before.data(), before.size()));
    for (const wchar_t* name : {L"same.ini", L"patched.ini", L"rewritten.ini", L"longer.ini", L"gone.ini",
                                L"vanished.ini", L"restored.ini", L"superseded.ini"}) {
        writeAt(name, kept, 2014);
        WIN32_FILE_ATTRIBUTE_DATA d;
        ASSERT_TRUE(GetFileAttributesExW((game + L"\\" + name).c_str(), GetFileExInfoStandard, &d));
        const bool replaced = std::wstring(name) == L"vanished.ini" || std::wstring(name) == L"restored.ini" ||
                              std::wstring(name) == L"superseded.ini";
        r.files.push_back({name, replaced ? std::optional<FileHash>(original) : std::nullopt,
                           HashBytes(ByteSpan(kept.data(), kept.size())),
                           (std::uint64_t(d.ftLastWriteTime.dwHighDateTime) << 32) | d.ftLastWriteTime.dwLowDateTime});
    }
    writeAt(L"patched.ini", patched, 2020);  // same size, other bytes, a later time: left
    writeAt(L"rewritten.ini", kept, 2020);   // written again with the same bytes: ours
    writeAt(L"longer.ini", kept + "!", 2014);  // left
    // Gone where none stood, and gone where an original is kept: as before, and put back.
    ASSERT_TRUE(DeleteFileW((game + L"\\gone.ini").c_str()));
    ASSERT_TRUE(DeleteFileW((game + L"\\vanished.ini").c_str()));
    writeAt(L"restored.ini", before, 2020);  // the original's own bytes again: as before
    writeAt(L"superseded.ini", "the game's", 2020);  // left; its original is superseded
    const std::wstring store = StoreFolder(game);
    ASSERT_TRUE(CreateDirectoryW(store.c_str(), nullptr));
    ASSERT_TRUE(WriteAll(RecordPath(store), FormatRecord(r)));

    InstalledState state = ReadInstalledState(game);
    EXPECT_EQ(state.record, RecordRead::Read);
    EXPECT_EQ(state.entry, 1);
    EXPECT_EQ(state.word, "王者");
    EXPECT_EQ(state.changed, 3);
    EXPECT_EQ(state.superseded, std::vector<std::wstring>{L"superseded.ini"});

    // A record that cannot be trusted says so: neither "nothing" nor an entry.
    ASSERT_TRUE(WriteAll(RecordPath(store), FormatRecord(r) + "garbage"));
    EXPECT_EQ(ReadInstalledState(game).record, RecordRead::Unreadable);
}

// The box a failure gets, as the player reads it: the Win32 error noted on `path`.
std::wstring BoxFor(unsigned long error, FailedAction action = FailedAction::Install, int* flags = nullptr) {
    InstallFailure f;
    NoteFailure(&f, error, L"DATA\\Menu\\a.ini");
    int ignored = 0;
    return GbkToWide(FailureText(f, action, flags ? flags : &ignored));
}

bool Has(const std::wstring& text, const wchar_t* part) { return text.find(part) != std::wstring::npos; }

TEST(Boxes, AnErrorARetryCannotMendSaysWhatToDoInsteadOfClosingTheGame) {
    // Held by the game or a scanner: close the game and try again.
    for (unsigned long inUse : {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION}) {
        const std::wstring text = BoxFor(inUse);
        EXPECT_TRUE(Has(text, L"关闭游戏")) << text;
        EXPECT_FALSE(Has(text, L"管理员")) << text;
    }
    // A folder the player may not write (after an elevated install, seen by a plain start).
    for (unsigned long denied : {ERROR_ACCESS_DENIED, ERROR_PRIVILEGE_NOT_HELD}) {
        for (FailedAction action : {FailedAction::Install, FailedAction::Undo}) {
            const std::wstring text = BoxFor(denied, action);
            EXPECT_TRUE(Has(text, L"以管理员身份运行")) << text;
            EXPECT_FALSE(Has(text, L"关闭游戏")) << text;
            EXPECT_TRUE(Has(text, L"Game\\DATA\\Menu\\a.ini")) << text;
        }
    }
    // A write-protected disk: neither more rights nor a closed game help.
    const std::wstring locked = BoxFor(ERROR_WRITE_PROTECT);
    EXPECT_TRUE(Has(locked, L"写保护")) << locked;
    EXPECT_FALSE(Has(locked, L"管理员")) << locked;
    EXPECT_FALSE(Has(locked, L"关闭游戏")) << locked;
    // A roll-back that could not put an original back says the same about that file.
    InstallFailure f;
    NoteFailure(&f, ERROR_SHARING_VIOLATION, L"ClientZips.txt");
    f.unrestoredPath = L"DATA\\Menu\\a.ini";
    f.unrestoredError = ERROR_ACCESS_DENIED;
    int flags = 0;
    const std::wstring rolled = GbkToWide(FailureText(f, FailedAction::Install, &flags));
    const std::wstring tail = rolled.substr(rolled.find(L"撤销修改时"));
    EXPECT_TRUE(Has(tail, L"以管理员身份运行")) << rolled;
    EXPECT_FALSE(Has(tail, L"关闭游戏")) << rolled;
    EXPECT_EQ(flags, kBoxError);
    f.unrestoredError = ERROR_WRITE_PROTECT;
    const std::wstring protectedDisk = GbkToWide(FailureText(f, FailedAction::Install, &flags));
    EXPECT_TRUE(Has(protectedDisk.substr(protectedDisk.find(L"撤销修改时")), L"写保护")) << protectedDisk;
}

TEST(Boxes, WorkLeftAfterAChangeIsToldWithItNotAsPlainSuccessAndSaysHowItGetsDone) {
    const std::wstring game = ExtendedPath(L"C:\\英雄联盟\\Game");
    UndoOutcome undone;
    undone.unfinished.unfinishedPath = L"ClientZips.txt.velmora-new";
    undone.unfinished.unfinishedError = ERROR_SHARING_VIOLATION;
    const std::wstring held = GbkToWide(UndoDoneText(undone, game));
    EXPECT_FALSE(Has(held, L"撤销成功")) << held;
    EXPECT_TRUE(Has(held, L"撤销已生效")) << held;
    EXPECT_TRUE(Has(held, L"Game\\ClientZips.txt.velmora-new")) << held;
    EXPECT_TRUE(Has(held, L"关闭游戏")) << held;
    EXPECT_TRUE(Has(held, L"上次修改未完成")) << held;
    EXPECT_EQ(GbkToWide(UndoDoneText(UndoOutcome(), game)), L"撤销成功,已恢复原来的文件！");
    for (unsigned long denied : {ERROR_ACCESS_DENIED, ERROR_PRIVILEGE_NOT_HELD}) {
        undone.unfinished.unfinishedError = denied;
        const std::wstring text = GbkToWide(UnfinishedText(undone.unfinished));
        EXPECT_TRUE(Has(text, L"以管理员身份运行")) << text;
        EXPECT_FALSE(Has(text, L"关闭游戏")) << text;
    }
    // At start-up: a lock that could not be made while an install cut short waits is not kept silent.
    InstallFailure lock;
    NoteFailure(&lock, ERROR_ACCESS_DENIED, kFolderLockName);
    int flags = 0;
    const std::wstring start = GbkToWide(RecoveryText(lock, &flags));
    EXPECT_EQ(start.find(L"上次修改没有完成"), 0u) << start;
    EXPECT_TRUE(Has(start, L"Game\\velmora-install.velmora-lock")) << start;
    EXPECT_TRUE(Has(start, L"以管理员身份运行")) << start;
    EXPECT_EQ(flags, kBoxError);
    EXPECT_TRUE(RecoveryText(InstallFailure(), &flags).empty());
}

TEST(Boxes, KeptOriginalsAreNamedByTheFolderThePlayerFindsThemIn) {
    UndoOutcome outcome;
    outcome.kept = {L"DATA\\Menu\\a.ini"};
    const std::wstring text = GbkToWide(UndoDoneText(outcome, ExtendedPath(L"C:\\英雄联盟\\Game")));
    EXPECT_TRUE(Has(text, L"“C:\\英雄联盟\\Velmora备份”")) << text;
    EXPECT_TRUE(Has(text, L"Velmora备份\\originals\\DATA\\Menu\\a.ini")) << text;
    EXPECT_FALSE(Has(text, L"..\\")) << text;
}

// The menu keeps the hashes it took (and those the reading ahead took) only
// while the listing shows each file as it was then: a file the game writes
// afterwards is read again, whatever its size, and so is one read as it was
// being written.
TEST_F(Scratch, TheStateReadsAgainEveryFileTheGameWroteSinceItLooked) {
    const std::wstring folder = root_ + L"\\remembered";
    const std::wstring game = folder + L"\\Game";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(game.c_str(), nullptr));
    const std::string ours = "installed bytes", before = "the player's own";
    const std::wstring path = game + L"\\a.ini";
    BackupRecord r;
    r.entry = 2;
    r.word = "钻石";
    r.time = RecordTimeNow();
    // Written long ago by us: any time it has now says it was written since.
    r.files.push_back({L"a.ini", HashBytes(ByteSpan(before.data(), before.size())),
                       HashBytes(ByteSpan(ours.data(), ours.size())), 1});
    const std::wstring store = StoreFolder(game);
    ASSERT_TRUE(CreateDirectoryW(store.c_str(), nullptr));
    ASSERT_TRUE(WriteAll(RecordPath(store), FormatRecord(r)));
    int minute = 0;
    const auto write = [&](const std::string& bytes) {
        ASSERT_TRUE(WriteAll(path, bytes));
        HANDLE h = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        SYSTEMTIME st = {2021, 3, 0, 5, 10, WORD(minute++), 30, 0};
        FILETIME ft;
        SystemTimeToFileTime(&st, &ft);
        ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &ft));
        CloseHandle(h);
    };
    const auto changed = [&] { return ReadInstalledState(game).changed; };

    write(ours);  // the same bytes, written again
    EXPECT_EQ(changed(), 0);
    EXPECT_EQ(changed(), 0);
    write("INSTALLED BYTES");  // a patch of the same size
    EXPECT_EQ(changed(), 1);
    EXPECT_EQ(ReadInstalledState(game).superseded, std::vector<std::wstring>{L"a.ini"});
    write(before.substr(0, ours.size()));  // another patch, again of that size
    EXPECT_EQ(changed(), 1);
    write(ours);  // ours again
    EXPECT_EQ(changed(), 0);

    // Read ahead on a worker, then patched: the menu still sees the patch.
    write("installed BYTES");
    ReadInstalledStateAhead(game);
    Sleep(200);
    write("INSTALLED bytes");
    EXPECT_EQ(changed(), 1);
    write(ours);
    ReadInstalledStateAhead(game);
    Sleep(200);
    EXPECT_EQ(changed(), 0);
}

}  // namespace
