#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>

#include "runtime/Encoding.h"
#include "runtime/Text.h"

namespace {

const Text kHero = "英雄联盟";  // GBK: D3 A2 D0 DB C1 AA C3 CB

TEST(Locale, WineReportsTheExpectedCodePage) {
    const char* expected = std::getenv("VELMORA_EXPECT_ACP");
    if (!expected) GTEST_SKIP() << "not run under a chosen locale";
    EXPECT_EQ(GetACP(), UINT(std::atoi(expected)));
}

TEST(Encoding, GbkRoundTripsThroughWideWhateverTheLocale) {
    ASSERT_EQ(kHero.size(), 8u);
    EXPECT_EQ(kHero, "\xD3\xA2\xD0\xDB\xC1\xAA\xC3\xCB");
    EXPECT_EQ(GbkToWide(kHero), L"英雄联盟");
    EXPECT_EQ(WideToGbk(L"游戏地址.txt"), Text("游戏地址.txt"));
    const Bytes utf8 = {0xE8, 0x8B, 0xB1, 'a'};  // 英a
    EXPECT_EQ(Utf8ToWide(utf8), L"英a");
    EXPECT_EQ(GbkToWide(""), L"");
}

TEST(BytesToText, StopsAtTheFirstZeroByte) {
    EXPECT_EQ(BytesToText(Bytes{0x61, 0x62, 0x00, 0x63, 0x64}), "ab");
    EXPECT_EQ(BytesToText(Bytes{0x61, 0x62}), "ab");
    EXPECT_EQ(BytesToText(Bytes{}), "");
    EXPECT_EQ(BytesToText(Bytes{0x00, 0x61}), "");
}

TEST(TextToBytes, DropsTheTerminatorAndCopiesByteSets) {
    EXPECT_EQ(TextToBytes(Text("ab")), (Bytes{0x61, 0x62}));
    EXPECT_TRUE(TextToBytes(Text()).empty());
    const Bytes withZero = {1, 0, 2};
    EXPECT_EQ(TextToBytes(ByteSpan(withZero)), withZero);
    EXPECT_EQ(TextLength(kHero), 8);
}

TEST(MidText, TakesByteRangesAndRefusesPositionsOutside) {
    const Text abc = "abc";
    EXPECT_EQ(MidText(abc, 3, 5), "c");
    EXPECT_EQ(MidText(abc, 4, 1), "");
    EXPECT_EQ(MidText(abc, 0, 1), "");
    EXPECT_EQ(MidText(abc, 1, 0), "");
    EXPECT_EQ(MidText(abc, 2, -1), "");
    EXPECT_EQ(MidText(abc, 1, 2), "ab");
    EXPECT_EQ(MidText("x" + kHero, 2, 4), "英雄");
}

TEST(FindText, MatchesOnlyOnCharacterBoundaries) {
    EXPECT_EQ(FindText("a" + kHero, kHero), 2);
    // 英雄 is D3A2 D0DB; "\xA2\xD0" stands across the two characters.
    EXPECT_EQ(FindText(kHero, "\xA2\xD0"), -1);
    // A trail byte that is an ASCII letter code is never a start: 丁 is B6A1, 乙 is D2D2,
    // and "@" (0x40) as a trail: 丂 is 8140.
    const Text trailAt = "丂";  // 81 40
    EXPECT_EQ(FindText(trailAt, "@"), -1);
    EXPECT_EQ(FindText(trailAt + "@", "@"), 3);
    EXPECT_EQ(FindText("abc", "abcd"), -1);
}

TEST(FindText, StartPositionClampsAndEndsTheSearch) {
    EXPECT_EQ(FindText("abab", "ab", 2), 3);
    EXPECT_EQ(FindText("abab", "ab", -7), 1);
    EXPECT_EQ(FindText("abab", "ab", 4), -1);
    EXPECT_EQ(FindText("abab", "b", 4), 4);
    EXPECT_EQ(FindText("abab", "b", 5), -1);
    EXPECT_EQ(FindText("", "a"), -1);
}

TEST(FindText, FoldsAsciiLettersOnly) {
    EXPECT_EQ(FindText("xabc", "ABC", std::nullopt, true), 2);
    EXPECT_EQ(FindText("xabc", "ABC", std::nullopt, false), -1);
    EXPECT_EQ(FindText("<P>英雄", "<p>英雄", std::nullopt, true), 1);
    // Trail byte 0x41 ('A') of 丄 (8141) must not be folded to match 'a'.
    EXPECT_EQ(FindText("丄", "a", std::nullopt, true), -1);
    EXPECT_EQ(FindText("英雄", "英x", std::nullopt, true), -1);
}

TEST(ReplaceText, ReplacesAllOrCountedOccurrences) {
    EXPECT_EQ(ReplaceText("a#b#c", "#", "\""), "a\"b\"c");
    EXPECT_EQ(ReplaceText("a#b#c", "#", "\"", 1, 1), "a\"b#c");
    EXPECT_EQ(ReplaceText("a#b#c", "#"), "abc");
    EXPECT_EQ(ReplaceText("a#b#c", "#", "!", 3), "a#b!c");
    EXPECT_EQ(ReplaceText("a#b#c", "#", "!", 1, 0), "a#b#c");
    EXPECT_EQ(ReplaceText("a#b", "#", "!", 4), "a#b");
    EXPECT_EQ(ReplaceText("", "#", "!"), "");
    EXPECT_EQ(ReplaceText("abc", "", "!"), "abc");
}

TEST(ReplaceText, StepsOverDoubleByteCharactersAndFoldsCaseByDefault) {
    EXPECT_EQ(ReplaceText(kHero, "\xA2\xD0", "!"), kHero);
    EXPECT_EQ(ReplaceText("丄a", "a", "b"), "丄b");  // 81 41 61: only the real 'a'
    EXPECT_EQ(ReplaceText("xABx", "ab", "-"), "x-x");
    EXPECT_EQ(ReplaceText("xABx", "ab", "-", 1, std::nullopt, true), "xABx");
    EXPECT_EQ(ReplaceText("#引号x#引号", "#引号", "\""), "\"x\"");
}

TEST(CompareText, OrdersBytesAndFoldsAsciiOnRequest) {
    EXPECT_EQ(CompareText("abc", "abc", true), 0);
    EXPECT_LT(CompareText("abc", "abd", true), 0);
    EXPECT_GT(CompareText("abd", "abc", true), 0);
    EXPECT_LT(CompareText("ab", "abc", true), 0);
    EXPECT_EQ(CompareText("ABC", "abc", false), 0);
    EXPECT_NE(CompareText("ABC", "abc", true), 0);
    EXPECT_GT(CompareText("英", "a", true), 0);
    EXPECT_NE(CompareText("丄", "\x81" "a", false), 0);
}

TEST(CutText, KeepsWholeCharactersWithinTheLimit) {
    EXPECT_EQ(CutText("Velmora", 62), "Velmora");
    EXPECT_EQ(CutText(Text(70, 'a'), 62), Text(62, 'a'));
    EXPECT_EQ(CutText("a" + kHero, 4), "a英");  // the half of 雄 stays out
    EXPECT_EQ(CutText(kHero, 8), kHero);
    EXPECT_EQ(CutText(kHero, 0), "");
}

TEST(SmallOperations, BehaveAsOneLiners) {
    EXPECT_EQ(SpaceText(3), "   ");
    EXPECT_EQ(SpaceText(0), "");
    EXPECT_EQ(SpaceText(-2), "");
    EXPECT_EQ(ZeroBytes(2), (Bytes{0, 0}));
    EXPECT_TRUE(ZeroBytes(-1).empty());
    EXPECT_EQ(ByteSetLength(Bytes{1, 2, 3}), 3);
    EXPECT_EQ(BitAnd(0xFF, 0x0F, 0x3), 0x3);
    EXPECT_EQ(BitOr(1, 2, 4), 7);
    EXPECT_EQ(BytesToInt(Bytes{0x78, 0x56, 0x34, 0x12, 0x99}), 0x12345678);
    EXPECT_EQ(BytesToInt(Bytes{0x01, 0x02}), 0x0201);
    EXPECT_EQ(BytesToInt(Bytes{0xFF, 0xFF, 0xFF, 0xFF}), -1);
    const char raw[] = "hi\0there";
    EXPECT_EQ(TextAtAddress(raw), "hi");
    EXPECT_EQ(BytesAtAddress(raw, 4), (Bytes{'h', 'i', 0, 't'}));
}

TEST(RandomInt, FollowsTheFixedGeneratorFromStateOne) {
    ResetRandomState();
    // state = state * 214013 + 2531011, r = (state >> 16) & 0x7FFF.
    std::uint32_t state = 1;
    for (int i = 0; i < 200; ++i) {
        state = state * 214013u + 2531011u;
        const int r = int((state >> 16) & 0x7FFF);
        ASSERT_EQ(RandomInt(100, 255), 100 + r % 156) << "draw " << i;
    }
    ResetRandomState();
    EXPECT_EQ(RandomInt(), 41);  // the classic first draw from seed 1
    EXPECT_EQ(RandomInt(), 18467);
}

TEST(RandomInt, HandlesBoundsInAnyOrder) {
    EXPECT_EQ(RandomInt(5, 5), 5);
    EXPECT_EQ(RandomInt(-3, 0), 0);
    ResetRandomState();
    const int a = RandomInt(255, 100);
    ResetRandomState();
    EXPECT_EQ(RandomInt(100, 255), a);
    for (int i = 0; i < 1000; ++i) {
        const int v = RandomInt(255, 100);
        ASSERT_GE(v, 100);
        ASSERT_LE(v, 255);
    }
    const int wide = RandomInt(0, 2147483647);
    EXPECT_GE(wide, 0);
}

}  // namespace
