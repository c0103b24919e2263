// The theme previews on screen: the pointer resting on a theme's box, or the
// keyboard's focus on it, shows the theme's embedded picture beside it; it
// goes on leaving, on Esc, on a click and on deactivation, never takes the
// focus, and the boxes tick as before. With the skin and without it.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "GuiDriver.h"
#include "ScreenPixels.h"
#include "themes/ThemePreviews.h"

namespace {

const std::wstring kTitle = L"VelmoraV2.5.3.1025";
constexpr int kMargin = 6;  // the pop-up's margin round the picture, at 96 DPI

std::string Resource(const std::wstring& exe, const wchar_t* name) {
    HMODULE image = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    std::string out;
    if (HRSRC r = FindResourceW(image, name, MAKEINTRESOURCEW(10)))
        out.assign(static_cast<const char*>(LockResource(LoadResource(image, r))), SizeofResource(image, r));
    FreeLibrary(image);
    return out;
}

// The screen's pixels inside rc, as 0x00RRGGBB.
std::vector<std::uint32_t> ScreenArea(const RECT& rc) {
    std::vector<std::uint32_t> out;
    for (COLORREF c : ScreenCapture(rc)) out.push_back(GetRValue(c) << 16 | GetGValue(c) << 8 | GetBValue(c));
    return out;
}

bool Near(std::uint32_t a, std::uint32_t b, int tolerance) {
    for (int shift = 0; shift < 24; shift += 8)
        if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > tolerance) return false;
    return true;
}

// The share of the picture's pixels the screen shows where the pop-up draws
// it: its client area less the margin, scaled to the size it was given.
double ShareShown(HWND popup, const Picture& picture) {
    RECT client;
    GetClientRect(popup, &client);
    POINT origin = {0, 0};
    ClientToScreen(popup, &origin);
    const double scale = double(client.right) / (picture.width + 2 * kMargin);
    const int left = origin.x + int(kMargin * scale + 0.5), top = origin.y + int(kMargin * scale + 0.5);
    const RECT area = {left, top, left + int(picture.width * scale + 0.5), top + int(picture.height * scale + 0.5)};
    const std::vector<std::uint32_t> shown = ScreenArea(area);
    const int w = area.right - area.left, h = area.bottom - area.top;
    int matched = 0, total = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x, ++total) {
            const int px = std::min(picture.width - 1, int(x / scale)), py = std::min(picture.height - 1, int(y / scale));
            matched += Near(shown[y * w + x], picture.pixels[py * picture.width + px], scale == 1.0 ? 8 : 48);
        }
    return total ? double(matched) / total : 0;
}

class Preview : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        exe_ = gui::EnvPath(GetParam());
        ASSERT_FALSE(exe_.empty()) << GetParam() << " names the program";
        program_ = gui::Start(exe_);
        ASSERT_TRUE(program_.process);
        HWND notice = gui::WaitForBox(program_.pid, L"温馨提醒：");
        ASSERT_TRUE(notice);
        gui::Press(gui::ButtonOf(notice, L"确定"));
        window_ = gui::WaitForWindow(program_.pid, kTitle, L"VelmoraMainWindow");
        ASSERT_TRUE(window_);
        gui::Settle(300);
    }
    void TearDown() override { gui::Kill(program_); }

    // The program's pop-up when it shows (nullptr when none does within ms).
    HWND WaitForPopup(DWORD ms = 4000) {
        for (DWORD waited = 0; waited < ms; waited += 20, Sleep(20))
            for (HWND h : gui::TopLevelWindows(program_.pid))
                if (gui::ClassOf(h) == L"VelmoraPreview") return h;
        return nullptr;
    }
    bool PopupGone(DWORD ms = 4000) {
        for (DWORD waited = 0; waited < ms; waited += 20, Sleep(20)) {
            bool shown = false;
            for (HWND h : gui::TopLevelWindows(program_.pid)) shown = shown || gui::ClassOf(h) == L"VelmoraPreview";
            if (!shown) return true;
        }
        return false;
    }
    HWND Box(const std::wstring& caption) { return gui::ChildWithText(window_, caption); }
    // Input is handled a little later than it is sent: waits for the state.
    static LRESULT CheckState(HWND box, LRESULT want) {
        LRESULT state = SendMessageW(box, BM_GETCHECK, 0, 0);
        for (int i = 0; i < 100 && state != want; ++i, Sleep(20)) state = SendMessageW(box, BM_GETCHECK, 0, 0);
        return state;
    }
    // The pointer onto a place of the window that is no box: the group box's caption.
    void PointerAway() {
        const RECT rc = gui::WindowRect(window_);
        gui::MoveMouse(rc.left + 200, rc.top + 60);
    }
    HWND FocusOf() {
        GUITHREADINFO info = {};
        info.cbSize = sizeof info;
        GetGUIThreadInfo(GetWindowThreadProcessId(window_, nullptr), &info);
        return info.hwndFocus;
    }
    Picture Embedded(int order) {
        wchar_t name[16];
        wsprintfW(name, L"PREVIEW%02d", order);
        const std::string bytes = Resource(exe_, name);
        return DecodePreview(ByteSpan(bytes.data(), bytes.size()));
    }
    // Hovers over the box until its pop-up shows; checks what it shows.
    HWND HoverShows(const std::wstring& box, int order, const std::wstring& caption) {
        HWND target = Box(box);
        EXPECT_TRUE(target) << "no box";
        if (!target) return nullptr;
        PointerAway();
        gui::Settle(200);
        const POINT c = gui::Centre(target);
        gui::MoveMouse(c.x, c.y);
        // Never at once: the pointer must rest first.
        Sleep(100);
        for (HWND h : gui::TopLevelWindows(program_.pid))
            EXPECT_NE(gui::ClassOf(h), L"VelmoraPreview") << "shown before the pointer rested";
        HWND popup = WaitForPopup();
        EXPECT_TRUE(popup) << "no pop-up";
        if (!popup) return nullptr;
        gui::Settle(200);
        EXPECT_EQ(gui::TextOf(popup), caption);
        const Picture picture = Embedded(order);
        EXPECT_GT(picture.width, 0);
        EXPECT_GE(ShareShown(popup, picture), 0.97) << "the screen does not show the embedded picture";
        // Beside the box, not over it; the window keeps the activation and the focus.
        RECT overlap, boxRect = gui::WindowRect(target), popRect = gui::WindowRect(popup);
        EXPECT_FALSE(IntersectRect(&overlap, &boxRect, &popRect));
        EXPECT_EQ(GetForegroundWindow(), window_);
        return popup;
    }

    std::wstring exe_;
    gui::Program program_;
    HWND window_ = nullptr;
};

TEST_P(Preview, HoverShowsThePictureAndItGoesOnLeaveEscAndClick) {
    struct Case {
        const wchar_t* box;
        int order;
        const wchar_t* caption;
    } cases[] = {{L"安装王者界面", 1, L"王者界面"}, {L"安装钻石界面", 2, L"钻石界面"}, {L"还原原始界面", 3, L"原始界面"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.caption);
        ASSERT_TRUE(HoverShows(c.box, c.order, c.caption));
        PointerAway();
        EXPECT_TRUE(PopupGone()) << "stays after the pointer left";
    }

    // Esc takes it away, and does not ask to close the window.
    ASSERT_TRUE(HoverShows(L"安装王者界面", 1, L"王者界面"));
    gui::Key(VK_ESCAPE);
    EXPECT_TRUE(PopupGone());
    EXPECT_FALSE(gui::WaitForBox(program_.pid, L"程序准备关闭中~~", 600));

    // A click takes it away and ticks the box as before; resting on the box
    // after the click brings nothing back.
    ASSERT_TRUE(HoverShows(L"安装钻石界面", 2, L"钻石界面"));
    HWND diamond = Box(L"安装钻石界面");
    const POINT d = gui::Centre(diamond);
    gui::ClickControlAt(d.x, d.y);
    EXPECT_TRUE(PopupGone());
    EXPECT_EQ(CheckState(diamond, BST_CHECKED), BST_CHECKED);
    EXPECT_FALSE(WaitForPopup(1000));
    HWND king = Box(L"安装王者界面");
    const POINT k = gui::Centre(king);
    gui::ClickControlAt(k.x, k.y);
    EXPECT_EQ(CheckState(king, BST_CHECKED), BST_CHECKED);
    EXPECT_EQ(CheckState(diamond, BST_UNCHECKED), BST_UNCHECKED);
}

TEST_P(Preview, KeyboardFocusShowsItWithoutTakingTheFocus) {
    HWND king = Box(L"安装王者界面");
    ASSERT_TRUE(king);
    const POINT k = gui::Centre(king);
    gui::ClickControlAt(k.x, k.y);
    PointerAway();
    gui::Settle(300);
    EXPECT_FALSE(WaitForPopup(600)) << "a click's focus shows nothing";
    gui::Key(VK_TAB);
    HWND popup = WaitForPopup();
    ASSERT_TRUE(popup);
    HWND focus = FocusOf();
    ASSERT_TRUE(focus);
    // The focused box's theme: its caption is "安装<name>界面".
    const std::wstring boxText = gui::TextOf(focus);
    ASSERT_EQ(boxText.substr(0, 2), L"安装");
    EXPECT_EQ(gui::TextOf(popup), boxText.substr(2));
    EXPECT_EQ(GetForegroundWindow(), window_);
    // Tab on: the next box's picture.
    gui::Key(VK_TAB);
    gui::Settle(300);
    HWND next = FocusOf();
    ASSERT_NE(next, focus);
    popup = WaitForPopup();
    ASSERT_TRUE(popup);
    EXPECT_EQ(gui::TextOf(popup), gui::TextOf(next).substr(2));
    // Esc takes it away; the focus and the ticks stay.
    gui::Key(VK_ESCAPE);
    EXPECT_TRUE(PopupGone());
    EXPECT_EQ(FocusOf(), next);
    EXPECT_EQ(SendMessageW(king, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(next, BM_GETCHECK, 0, 0), BST_UNCHECKED);
}

TEST_P(Preview, ItGoesWhenTheWindowIsDeactivated) {
    ASSERT_TRUE(HoverShows(L"安装钻石界面", 2, L"钻石界面"));
    // Another program's window comes to the front.
    HWND other = CreateWindowExW(0, L"STATIC", L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                 nullptr, nullptr, nullptr);
    ASSERT_TRUE(other);
    SetForegroundWindow(other);
    MSG msg;
    for (int i = 0; i < 20; ++i, Sleep(20))
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    EXPECT_TRUE(PopupGone());
    DestroyWindow(other);
}

INSTANTIATE_TEST_SUITE_P(Skinned, Preview, ::testing::Values("VELMORA_EXE"));
INSTANTIATE_TEST_SUITE_P(Unskinned, Preview, ::testing::Values("VELMORA_NOLIBRARY_EXE"));

}  // namespace
