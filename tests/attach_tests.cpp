// The call into the skin library: CallAddress's calling convention, and the
// arguments AttachSkin hands over.
#include <gtest/gtest.h>

#include <windows.h>

#include "GuiDriver.h"
#include "runtime/Encoding.h"
#include "runtime/FileUtil.h"
#include "skin/SkinAttach.h"

namespace {

int WINAPI TwoArguments(int a, int b) { return a * 10 + b; }
int WINAPI TenArguments(int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8, int a9, int a10) {
    return a1 + 2 * a2 + 3 * a3 + 4 * a4 + 5 * a5 + 6 * a6 + 7 * a7 + 8 * a8 + 9 * a9 + 10 * a10;
}
int __cdecl CallerCleans(int a, int b, int c) { return a - b - c; }
int WINAPI NoArguments() { return -7; }

template <typename F>
std::uintptr_t AddressOf(F* function) { return reinterpret_cast<std::uintptr_t>(function); }

TEST(CallAddress, PassesArgumentsInOrderAndKeepsTheStack) {
    // Each call is repeated: a stack left off by one call would show in the next.
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(CallAddress(AddressOf(TwoArguments), 4, 2), 42);
        EXPECT_EQ(CallAddress(AddressOf(TenArguments), 1, 1, 1, 1, 1, 1, 1, 1, 1, 1), 55);
        EXPECT_EQ(CallAddress(AddressOf(TenArguments), 0, 0, 0, 0, 0, 0, 0, 0, 0, 1), 10);
        EXPECT_EQ(CallAddress(AddressOf(CallerCleans), 10, 3, 2), 5);
        EXPECT_EQ(CallAddress(AddressOf(NoArguments), 99, 98), -7);
        EXPECT_EQ(CallAddress(AddressOf(TwoArguments), -1, 0x7FFFFFFF / 10), -10 + 0x7FFFFFFF / 10);
    }
}

TEST(AttachSkin, ReachesTheLibraryWithTheSkinUnchanged) {
    const Bytes recorder = ReadFileBytes(WideToGbk(gui::EnvPath("VELMORA_RECORDER_DLL").c_str()));
    ASSERT_FALSE(recorder.empty());
    const Bytes skin = {'V', 'S', 'K', 'N', 1, 0, 2, 0, 9, 9};

    // Nothing mapped yet: nothing is called.
    EXPECT_EQ(SkinLibrary(), nullptr);
    EXPECT_EQ(AttachSkin(skin), 0);

    LoadSkinLibrary(recorder);
    ASSERT_NE(SkinLibrary(), nullptr);
    const std::uintptr_t base = SkinLibrary()->BaseAddress();
    ASSERT_NE(base, 0u);
    EXPECT_EQ(AttachSkin(skin), 701);
    auto recorded = reinterpret_cast<INT_PTR(WINAPI*)(int)>(SkinLibrary()->FindExport("Recorded"));
    ASSERT_TRUE(recorded);
    EXPECT_EQ(std::uintptr_t(recorded(0)), reinterpret_cast<std::uintptr_t>(skin.data()));
    EXPECT_EQ(recorded(1), INT_PTR(skin.size()));
    for (int i = 2; i < 10; ++i) EXPECT_EQ(recorded(i), 0) << "argument " << i + 1;

    // A second load keeps the library that is there.
    LoadSkinLibrary(Bytes());
    EXPECT_EQ(SkinLibrary()->BaseAddress(), base);
    EXPECT_EQ(AttachSkin(ByteSpan(skin.data(), 4)), 702);
    EXPECT_EQ(recorded(1), 4);
}

}  // namespace
