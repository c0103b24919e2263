// The program on screen with its skin, and built with a library that cannot
// skin: the skin's colours in the frame, the client area and the boxes, and
// the program's own colours the same in both.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "GuiDriver.h"
#include "ScreenPixels.h"
#include "SkinPixels.h"

namespace {

const std::wstring kTitle = L"VelmoraV2.5.3.1025";
const std::wstring kEditText = L"注：点击“浏览”，找到目录“英雄联盟”点确定";

// A screen area, read in one go.
struct Area {
    RECT rc = {};
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[(y - rc.top) * (rc.right - rc.left) + (x - rc.left)]; }
    template <typename P>
    int Count(const RECT& part, P wanted) const {
        int n = 0;
        for (int y = part.top; y < part.bottom; ++y)
            for (int x = part.left; x < part.right; ++x) n += wanted(At(x, y));
        return n;
    }
};

Area Capture(const RECT& rc) {
    Area area;
    area.rc = rc;
    area.pixels = ScreenCapture(rc);
    return area;
}

std::vector<std::uint8_t> SkinFile() {
    std::vector<std::uint8_t> bytes;
    HANDLE f = CreateFileW(gui::EnvPath("VELMORA_SKIN_FILE").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) return bytes;
    bytes.resize(GetFileSize(f, nullptr));
    DWORD got = 0;
    ReadFile(f, bytes.data(), DWORD(bytes.size()), &got, nullptr);
    CloseHandle(f);
    bytes.resize(got);
    return bytes;
}

struct Seen {
    bool shown = false;
    COLORREF noticeClient = 0, client = 0, caption = 0, border = 0;
    int noticeRed = 0;   // the program's red notice label
    int editGrey = 0, editWhite = 0;
};

// A pixel of a window's client area, from a capture of the whole window.
POINT ClientPoint(HWND hwnd, int x, int y) {
    POINT pt = {x, y};
    ClientToScreen(hwnd, &pt);
    return pt;
}

Seen LookAt(const std::wstring& exe, const std::wstring& shot) {
    Seen seen;
    gui::Program program = gui::Start(exe);
    if (!program.process) return seen;
    if (HWND notice = gui::WaitForBox(program.pid, L"温馨提醒：")) {
        gui::Settle(300);
        const Area box = Capture(gui::WindowRect(notice));
        const POINT at = ClientPoint(notice, 3, 3);
        seen.noticeClient = box.At(at.x, at.y);
        gui::Press(gui::ButtonOf(notice, L"确定"));
    }
    HWND window = gui::WaitForWindow(program.pid, kTitle, L"VelmoraMainWindow");
    if (window) {
        gui::Settle(600);
        if (!shot.empty()) gui::SaveScreenshot(shot);
        const RECT rc = gui::WindowRect(window);
        const Area area = Capture(rc);
        seen.shown = true;
        const POINT empty = ClientPoint(window, 5, 200);  // left of 分组框2
        seen.client = area.At(empty.x, empty.y);
        seen.border = area.At(rc.left + 1, rc.top + 200);
        seen.caption = area.At(rc.left + (rc.right - rc.left) * 6 / 10, CaptionRow(window));
        // 标签2 scrolls along the bottom, below 分组框3.
        const POINT from = ClientPoint(window, 0, 408);
        const POINT to = ClientPoint(window, 437, 424);
        seen.noticeRed = area.Count(RECT{from.x, from.y, std::min(to.x, rc.right), std::min(to.y, rc.bottom)},
                                    [](COLORREF c) { return GetRValue(c) > 200 && GetGValue(c) < 60 && GetBValue(c) < 60; });
        if (HWND edit = gui::ChildWithText(window, kEditText)) {
            const RECT e = gui::WindowRect(edit);
            seen.editGrey = area.Count(e, [](COLORREF c) { return Near(c, RGB(192, 192, 192), 8); });
            seen.editWhite = area.Count(e, [](COLORREF c) { return c == RGB(255, 255, 255); });
        }
    }
    gui::Kill(program);
    return seen;
}

TEST(Skin, MainWindowAndBoxesWithTheSkinAndWithout) {
    const auto skin = SkinFile();
    ASSERT_GT(skin.size(), SKIN_HEADER_BYTES + 4u * SkinColourCount) << "VELMORA_SKIN_FILE names the skin";
    const std::wstring folder = gui::EnvPath("VELMORA_SHOTS");
    auto shot = [&](const wchar_t* name) { return folder.empty() ? std::wstring() : folder + L"\\" + name + L".bmp"; };

    const Seen skinned = LookAt(gui::EnvPath("VELMORA_EXE"), shot(L"skinned-window"));
    // The same program whose embedded library has no Skin_AttachMemory.
    const Seen plain = LookAt(gui::EnvPath("VELMORA_NOEXPORT_EXE"), shot(L"unskinned-window"));
    // And one whose embedded library is no DLL at all.
    const Seen unmapped = LookAt(gui::EnvPath("VELMORA_NOLIBRARY_EXE"), std::wstring());
    ASSERT_TRUE(skinned.shown);
    ASSERT_TRUE(plain.shown);
    ASSERT_TRUE(unmapped.shown);

    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    EXPECT_TRUE(Near(skinned.client, Slot(skin, SkinClient))) << std::hex << skinned.client;
    EXPECT_TRUE(Near(skinned.border, Slot(skin, SkinFrameInner))) << std::hex << skinned.border;
    EXPECT_TRUE(Near(skinned.noticeClient, Slot(skin, SkinClient))) << std::hex << skinned.noticeClient;
    EXPECT_TRUE(Between(skinned.caption, Slot(skin, SkinCaptionTop), Slot(skin, SkinCaptionBottom)) ||
                Between(skinned.caption, Slot(skin, SkinCaptionInactiveTop), Slot(skin, SkinCaptionInactiveBottom)))
        << std::hex << skinned.caption;
    for (const Seen* s : {&plain, &unmapped}) {
        EXPECT_TRUE(Near(s->client, face)) << std::hex << s->client;
        EXPECT_TRUE(Near(s->noticeClient, face)) << std::hex << s->noticeClient;
        EXPECT_FALSE(Near(s->border, Slot(skin, SkinFrameInner), 10)) << std::hex << s->border;
        EXPECT_FALSE(Between(s->caption, Slot(skin, SkinCaptionTop), Slot(skin, SkinCaptionBottom)))
            << std::hex << s->caption;
    }
    // The program's own colours, in both.
    EXPECT_GT(skinned.noticeRed, 30);
    EXPECT_GT(plain.noticeRed, 30);
    EXPECT_GT(skinned.editGrey, 30);
    EXPECT_EQ(skinned.editGrey, plain.editGrey);
    EXPECT_EQ(skinned.editWhite, plain.editWhite);
}

}  // namespace
