#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "GuiDriver.h"
#include "runtime/Encoding.h"
#include "runtime/FileUtil.h"
#include "runtime/ScopedHandle.h"

namespace {

// A fresh folder under the temp folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        wchar_t base[MAX_PATH];
        GetTempPathW(MAX_PATH, base);
        static int counter = 0;
        path_ = WideToGbk(base) + "velmora-files-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(++counter);
        CreateDirectoryW(GbkToWide(path_).c_str(), nullptr);
    }
    ~TempFolder() { gui::RemoveTree(GbkToWide(path_)); }
    Text operator/(const Text& name) const { return path_ + "\\" + name; }
    const Text& path() const { return path_; }

private:
    Text path_;
};

Bytes B(const char* s) { return TextToBytes(Text(s)); }

TEST(ProgramFolder, IsTheExecutablesFolderWithoutTrailingBackslash) {
    const Text folder = ProgramFolder();
    ASSERT_GT(TextLength(folder), 2);
    EXPECT_NE(folder.back(), '\\');
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    const Text full = WideToGbk(exe);
    EXPECT_EQ(full.substr(0, folder.size() + 1), folder + "\\");
    EXPECT_EQ(full.find('\\', folder.size() + 1), Text::npos);
}

TEST(ReadFileBytes, MissingEmptyAndUnnamedFilesGiveNothing) {
    TempFolder dir;
    EXPECT_TRUE(ReadFileBytes(dir / "missing.bin").empty());
    EXPECT_TRUE(ReadFileBytes("").empty());
    ASSERT_TRUE(WriteFileBytes(dir / "empty.bin", {}));
    EXPECT_TRUE(FileExists(dir / "empty.bin"));
    EXPECT_TRUE(ReadFileBytes(dir / "empty.bin").empty());
}

TEST(ReadFileBytes, AFileFarLargerThanAnyCallerNeedsGivesNothingWithoutEndingTheProgram) {
    TempFolder dir;
    const Text big = dir / "big.bin";
    {
        // Sparse: 1.5 GiB that take no room on the disk.
        ScopedFile f(CreateFileW(GbkToWide(big).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(f.valid());
        LARGE_INTEGER at;
        at.QuadPart = 3ll << 29;
        ASSERT_TRUE(SetFilePointerEx(f.get(), at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(f.get()));
    }
    EXPECT_TRUE(ReadFileBytes(big).empty());
    // Just past the stated limit is refused too; at it, the file is read whole.
    const Bytes atLimit(kMaxReadFileBytes, 7);
    ASSERT_TRUE(WriteFileBytes(dir / "limit.bin", {atLimit}));
    EXPECT_EQ(ReadFileBytes(dir / "limit.bin").size(), kMaxReadFileBytes);
    ASSERT_TRUE(WriteFileBytes(dir / "over.bin", {atLimit, B("x")}));
    EXPECT_TRUE(ReadFileBytes(dir / "over.bin").empty());
}

TEST(WriteFileBytes, ConcatenatesSkipsEmptyPartsAndTruncates) {
    TempFolder dir;
    const Text file = dir / "data.bin";
    ASSERT_TRUE(WriteFileBytes(file, {B("a much longer previous content")}));
    const Bytes zeros = {0, 1, 0};
    ASSERT_TRUE(WriteFileBytes(file, {B("ab"), Bytes(), zeros, B("c")}));
    EXPECT_EQ(ReadFileBytes(file), (Bytes{'a', 'b', 0, 1, 0, 'c'}));
    EXPECT_FALSE(WriteFileBytes("", {B("x")}));
    EXPECT_FALSE(WriteFileBytes(dir / "no-such-folder\\x.bin", {B("x")}));
}

TEST(FileExists, FindsFilesFoldersAndWildcards) {
    TempFolder dir;
    EXPECT_TRUE(FileExists(dir.path()));
    EXPECT_FALSE(FileExists(dir / "x.txt"));
    ASSERT_TRUE(WriteFileBytes(dir / "x.txt", {B("1")}));
    EXPECT_TRUE(FileExists(dir / "x.txt"));
    EXPECT_TRUE(FileExists(dir / "*.txt"));
    EXPECT_FALSE(FileExists(dir / "*.zip"));
    EXPECT_FALSE(FileExists(""));
}

TEST(DeleteFilePath, DeletesFilesButNotFolders) {
    TempFolder dir;
    ASSERT_TRUE(WriteFileBytes(dir / "x.txt", {B("1")}));
    EXPECT_TRUE(DeleteFilePath(dir / "x.txt"));
    EXPECT_FALSE(FileExists(dir / "x.txt"));
    EXPECT_FALSE(DeleteFilePath(dir / "x.txt"));
    ASSERT_TRUE(CreateDirectoryW(GbkToWide(dir / "sub").c_str(), nullptr));
    EXPECT_FALSE(DeleteFilePath(dir / "sub"));
    EXPECT_TRUE(FileExists(dir / "sub"));
}

TEST(Sharing, ReadersShareReadingAndWritersShareNothing) {
    TempFolder dir;
    const Text file = dir / "shared.bin";
    ASSERT_TRUE(WriteFileBytes(file, {B("content")}));
    {
        // Another reader that allows others to read: we can still read.
        ScopedFile reader(CreateFileW(GbkToWide(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(reader.valid());
        EXPECT_EQ(ReadFileBytes(file), B("content"));
        // ... but a writer is refused while a reader holds the file.
        EXPECT_FALSE(WriteFileBytes(file, {B("x")}));
    }
    {
        // A holder that allows no sharing (a running client keeps its files so).
        ScopedFile locked(CreateFileW(GbkToWide(file).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(locked.valid());
        EXPECT_TRUE(ReadFileBytes(file).empty());
        EXPECT_FALSE(WriteFileBytes(file, {B("x")}));
        EXPECT_FALSE(DeleteFilePath(file));
    }
    {
        // Someone writing to the file: our read-only sharing refuses to open it.
        ScopedFile writer(CreateFileW(GbkToWide(file).c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
        ASSERT_TRUE(writer.valid());
        EXPECT_TRUE(ReadFileBytes(file).empty());
    }
    EXPECT_EQ(ReadFileBytes(file), B("content"));
}

// Writes GBK-named files into the folder the calling script names; the script
// then looks for them on the Linux side of the drive.
TEST(GbkNames, FilesCarryTheirChineseNames) {
    const char* target = std::getenv("VELMORA_NAME_DIR");
    if (!target) GTEST_SKIP() << "run by gbk_file_names.sh";
    const Text dir = WideToGbk(GbkToWide(target));
    const Text pathFile = dir + "\\游戏地址.txt";
    ASSERT_TRUE(WriteFileBytes(pathFile, {B("D:\\英雄联盟")}));
    EXPECT_TRUE(FileExists(pathFile));
    EXPECT_EQ(ReadFileBytes(pathFile), B("D:\\英雄联盟"));
    ASSERT_TRUE(CreateDirectoryW(GbkToWide(dir + "\\英雄联盟").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(dir + "\\英雄联盟\\界面.ini", {B("x")}));
}

}  // namespace
