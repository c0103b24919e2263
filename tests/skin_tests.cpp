// The skin library, mapped from memory as the program maps it: which skins it
// takes, and how the windows of the attaching thread look and behave after.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "GuiDriver.h"
#include "SkinPixels.h"
#include "runtime/Encoding.h"
#include "runtime/FileUtil.h"
#include "skin/MemoryLibrary.h"

namespace {

using AttachFn = int(WINAPI*)(const void*, DWORD);

const Bytes& SkinFile() {
    static const Bytes skin = ReadFileBytes(WideToGbk(gui::EnvPath("VELMORA_SKIN_FILE").c_str()));
    return skin;
}

AttachFn Attach() {
    static MemoryLibrary library;
    static AttachFn attach = nullptr;
    if (!attach) {
        const Bytes image = ReadFileBytes(WideToGbk(gui::EnvPath("VELMORA_SKINLIB").c_str()));
        if (library.Load(image)) attach = reinterpret_cast<AttachFn>(library.FindExport("Skin_AttachMemory"));
    }
    return attach;
}

COLORREF Slot(int slot) { return ::Slot(SkinFile(), slot); }

void Pump(DWORD ms = 120) {
    const DWORD end = GetTickCount() + ms;
    do {
        MSG m;
        while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        Sleep(10);
    } while (GetTickCount() < end);
}

// A pixel of a window, in its window coordinates (frame included).
COLORREF PixelOf(HWND hwnd, int x, int y) {
    HDC dc = GetWindowDC(hwnd);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(hwnd, dc);
    return c;
}

// A pixel of a window's client area.
COLORREF ClientPixel(HWND hwnd, int x, int y) {
    HDC dc = GetDC(hwnd);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(hwnd, dc);
    return c;
}

int ClientPixelsNear(HWND hwnd, COLORREF want, int tolerance = 10) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    HDC dc = GetDC(hwnd);
    int n = 0;
    for (LONG y = 0; y < rc.bottom; ++y)
        for (LONG x = 0; x < rc.right; ++x) n += Near(GetPixel(dc, x, y), want, tolerance);
    ReleaseDC(hwnd, dc);
    return n;
}

bool Subclassed(HWND hwnd) {
    return ULONG_PTR(GetWindowLongPtrW(hwnd, GWLP_WNDPROC)) != ULONG_PTR(GetClassLongPtrW(hwnd, GCLP_WNDPROC));
}

// ---- the program-like window the tests skin --------------------------------

constexpr COLORREF kProgramRed = RGB(255, 0, 0);
constexpr COLORREF kProgramMagenta = RGB(255, 0, 255);
constexpr COLORREF kProgramYellow = RGB(255, 255, 0);
constexpr int kCheckId = 11, kGroupId = 12, kOwnId = 13, kEditId = 14;

std::vector<WPARAM> g_commands;  // the system commands the window got
HBRUSH g_yellow = nullptr;

LRESULT CALLBACK TestProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SYSCOMMAND:
            if ((wp & 0xFFF0) == SC_CLOSE || (wp & 0xFFF0) == SC_MINIMIZE) {
                g_commands.push_back(wp & 0xFFF0);
                return 0;
            }
            break;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN: {
            // As the program answers: its text colours, and the plain face
            // brush where it sets no background of its own.
            const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lp));
            HDC dc = reinterpret_cast<HDC>(wp);
            SetTextColor(dc, id == kCheckId ? kProgramRed : id == kGroupId ? kProgramMagenta : RGB(0, 0, 0));
            if (id == kOwnId) {
                SetBkColor(dc, kProgramYellow);
                return reinterpret_cast<LRESULT>(g_yellow);
            }
            if (id == kEditId) return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        }
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

struct TestWindow {
    HWND frame = nullptr, button = nullptr, check = nullptr, group = nullptr, own = nullptr, edit = nullptr;

    explicit TestWindow(int left, DWORD extraStyle = 0) {
        static bool registered = false;
        if (!registered) {
            registered = true;
            g_yellow = CreateSolidBrush(kProgramYellow);
            WNDCLASSW wc = {};
            wc.lpfnWndProc = TestProc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
            wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            wc.lpszClassName = L"SkinTestWindow";
            RegisterClassW(&wc);
        }
        frame = CreateWindowExW(0, L"SkinTestWindow", L"皮肤测试", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | extraStyle,
                                left, 80, 320, 240, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        HFONT font = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
        auto child = [&](const wchar_t* klass, const wchar_t* text, DWORD style, int x, int y, int w, int h, int id,
                         DWORD ex = 0) {
            HWND c = CreateWindowExW(ex, klass, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, frame,
                                     reinterpret_cast<HMENU>(INT_PTR(id)), GetModuleHandleW(nullptr), nullptr);
            SendMessageW(c, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
            return c;
        };
        button = child(L"BUTTON", L"修改", BS_PUSHBUTTON, 10, 10, 80, 30, 10);
        check = child(L"BUTTON", L"安装王者界面", BS_AUTOCHECKBOX, 10, 50, 120, 20, kCheckId);
        group = child(L"BUTTON", L"选择区域", BS_GROUPBOX, 150, 10, 150, 100, kGroupId);
        own = child(L"STATIC", L"", SS_LEFT, 10, 80, 100, 20, kOwnId);
        edit = child(L"EDIT", L"", ES_READONLY, 10, 110, 100, 22, kEditId, WS_EX_CLIENTEDGE);
    }
    ~TestWindow() { DestroyWindow(frame); }
    void Show() {
        ShowWindow(frame, SW_SHOW);
        SetForegroundWindow(frame);
        UpdateWindow(frame);
        Pump();
    }
};

// ---- the library's file -----------------------------------------------------------

// What the loader cannot provide, the library must not need.
TEST(SkinLibraryFile, NeedsOnlySystemDllsAndNoThreadStorage) {
    const Bytes image = ReadFileBytes(WideToGbk(gui::EnvPath("VELMORA_SKINLIB").c_str()));
    ASSERT_GT(image.size(), 0x400u);
    MemoryLibrary mapped;  // read through a mapping: RVAs are addresses then
    ASSERT_TRUE(mapped.Load(image));
    const auto* base = reinterpret_cast<const std::uint8_t*>(mapped.BaseAddress());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);  // the process's own kind
    EXPECT_EQ(nt->OptionalHeader.ImageBase, 0x10000000u);
    EXPECT_TRUE(nt->FileHeader.Characteristics & IMAGE_FILE_DLL);
    EXPECT_EQ(nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS].Size, 0u);
    const auto& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    int dlls = 0;
    for (const auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name; ++d, ++dlls) {
        const std::string name = reinterpret_cast<const char*>(base + d->Name);
        EXPECT_TRUE(lstrcmpiA(name.c_str(), "KERNEL32.dll") == 0 || lstrcmpiA(name.c_str(), "USER32.dll") == 0 ||
                    lstrcmpiA(name.c_str(), "GDI32.dll") == 0)
            << name;
    }
    EXPECT_GT(dlls, 0);
    const auto& exports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* dir = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + exports.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + dir->AddressOfNames);
    ASSERT_GT(dir->NumberOfNames, 0u);
    for (DWORD i = 0; i < dir->NumberOfNames; ++i)
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(base + names[i])).rfind("Skin_", 0), 0u);
    EXPECT_NE(mapped.FindExport("Skin_AttachMemory"), 0u);
    mapped.Free();
}

// ---- the skins the library takes ---------------------------------------------

Bytes WithU16(Bytes skin, std::size_t at, std::uint16_t value) {
    std::memcpy(&skin[at], &value, 2);
    return skin;
}

TestWindow* g_before = nullptr;  // made before the attach, skinned by it

TEST(SkinLibrary, RefusesWhatIsNotAWholeSkin) {
    ASSERT_TRUE(Attach()) << "skinlib.dll maps and exports Skin_AttachMemory";
    const Bytes& good = SkinFile();
    ASSERT_GT(good.size(), 8u);
    ASSERT_EQ(std::memcmp(good.data(), SKIN_SIGNATURE, 4), 0);
    const std::size_t font = SKIN_HEADER_BYTES + 4 * SkinColourCount;
    ASSERT_GE(good.size(), font + SKIN_FONT_BYTES);

    Bytes badSignature = good;
    badSignature[0] = 'v';
    Bytes zeroFace = good;
    zeroFace[font + 5] = 0;
    Bytes longFace = good;
    longFace[font + 5] = SKIN_MAX_FACE + 1;
    Bytes nulInFace = good;
    nulInFace[font + SKIN_FONT_BYTES] = nulInFace[font + SKIN_FONT_BYTES + 1] = 0;
    const std::vector<Bytes> refused = {
        Bytes(), Bytes(good.begin(), good.begin() + 7), badSignature,
        WithU16(good, 4, SKIN_VERSION + 1), WithU16(good, 6, SkinColourCount - 1),
        WithU16(good, 6, 0xFFFF),  // more colours than there are bytes
        Bytes(good.begin(), good.end() - 1), Bytes(good.begin(), good.begin() + font + 5),
        zeroFace, longFace, nulInFace,
    };
    for (std::size_t i = 0; i < refused.size(); ++i)
        EXPECT_EQ(Attach()(refused[i].data(), DWORD(refused[i].size())), 0) << "case " << i;
    EXPECT_EQ(Attach()(nullptr, 100), 0);

    // Nothing was attached: a new window is the system's own.
    g_before = new TestWindow(40);
    EXPECT_FALSE(Subclassed(g_before->frame));
    EXPECT_FALSE(Subclassed(g_before->button));
}

TEST(SkinLibrary, SkinsTheWindowsThereAndThoseMadeLater) {
    ASSERT_TRUE(Attach());
    Bytes longer = SkinFile();
    longer.insert(longer.end(), {1, 2, 3});  // what follows the face is ignored
    EXPECT_EQ(Attach()(longer.data(), DWORD(longer.size())), 1);
    EXPECT_EQ(Attach()(SkinFile().data(), DWORD(SkinFile().size())), 1);  // again: the look is replaced

    ASSERT_TRUE(g_before);
    EXPECT_TRUE(Subclassed(g_before->frame));
    EXPECT_TRUE(Subclassed(g_before->button));
    EXPECT_TRUE(Subclassed(g_before->check));
    EXPECT_TRUE(Subclassed(g_before->group));
    EXPECT_FALSE(Subclassed(g_before->own));   // statics and edits are the system's
    EXPECT_FALSE(Subclassed(g_before->edit));
    g_before->Show();
    EXPECT_TRUE(Near(ClientPixel(g_before->frame, 300, 200), Slot(SkinClient)));
    delete g_before;
    g_before = nullptr;

    TestWindow later(40);
    EXPECT_TRUE(Subclassed(later.frame));
    EXPECT_TRUE(Subclassed(later.check));
    HWND added = CreateWindowExW(0, L"BUTTON", L"后加", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 10, 150, 60, 24,
                                 later.frame, nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_TRUE(Subclassed(added));
    HWND radio = CreateWindowExW(0, L"BUTTON", L"单选", WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON, 80, 150, 60, 24,
                                 later.frame, nullptr, GetModuleHandleW(nullptr), nullptr);
    EXPECT_FALSE(Subclassed(radio));  // kinds the skin does not draw are left alone
}

// A test window on screen, with the skin attached even when this runs alone.
class SkinnedWindow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Attach());
        static const bool attached = Attach()(SkinFile().data(), DWORD(SkinFile().size())) == 1;
        ASSERT_TRUE(attached);
        window_.emplace(40);
        ASSERT_TRUE(window_->frame) << "needs a display";
        window_->Show();
    }
    std::optional<TestWindow> window_;
};

TEST_F(SkinnedWindow, DrawsFrameClientAndControlsInTheSkinsColours) {
    TestWindow& w = *window_;
    RECT window;
    GetWindowRect(w.frame, &window);
    const int width = window.right - window.left;
    const int captionMiddle = CaptionRow(w.frame) - window.top;

    // The frame and the title bar.
    EXPECT_TRUE(Near(PixelOf(w.frame, 0, 120), Slot(SkinFrameOuter)));
    EXPECT_TRUE(Near(PixelOf(w.frame, 1, 120), Slot(SkinFrameInner)));
    const bool active = GetActiveWindow() == w.frame;
    const COLORREF caption = PixelOf(w.frame, width * 6 / 10, captionMiddle);
    EXPECT_TRUE(active ? Between(caption, Slot(SkinCaptionTop), Slot(SkinCaptionBottom))
                       : Between(caption, Slot(SkinCaptionInactiveTop), Slot(SkinCaptionInactiveBottom)))
        << std::hex << caption << " active " << active;
    // The client area, and the program's own colours on it.
    EXPECT_TRUE(Near(ClientPixel(w.frame, 300, 200), Slot(SkinClient)));
    EXPECT_TRUE(Near(ClientPixel(w.own, 2, 2), kProgramYellow));
    EXPECT_TRUE(Near(ClientPixel(w.edit, 5, 5), RGB(255, 255, 255)));
    EXPECT_GT(ClientPixelsNear(w.check, kProgramRed, 60), 0);
    EXPECT_GT(ClientPixelsNear(w.group, kProgramMagenta, 60), 0);

    // The push button, by state.
    auto face = [&] { return ClientPixel(w.button, 4, 15); };
    EXPECT_TRUE(Between(face(), Slot(SkinButtonTop), Slot(SkinButtonBottom))) << std::hex << face();
    EXPECT_TRUE(Near(ClientPixel(w.button, 0, 15), Slot(SkinButtonBorder)));
    SendMessageW(w.button, WM_MOUSEMOVE, 0, MAKELPARAM(5, 5));
    UpdateWindow(w.button);
    EXPECT_TRUE(Between(face(), Slot(SkinButtonHoverTop), Slot(SkinButtonHoverBottom))) << std::hex << face();
    SendMessageW(w.button, WM_MOUSELEAVE, 0, 0);
    UpdateWindow(w.button);
    EXPECT_TRUE(Between(face(), Slot(SkinButtonTop), Slot(SkinButtonBottom)));
    // The system's button would draw its pushed look at once; the skin keeps
    // its own until it paints the pushed state.
    SendMessageW(w.button, BM_SETSTATE, TRUE, 0);
    EXPECT_TRUE(Between(face(), Slot(SkinButtonTop), Slot(SkinButtonBottom))) << std::hex << face();
    UpdateWindow(w.button);
    EXPECT_TRUE(Between(face(), Slot(SkinButtonPressedTop), Slot(SkinButtonPressedBottom))) << std::hex << face();
    SendMessageW(w.button, BM_SETSTATE, FALSE, 0);
    EnableWindow(w.button, FALSE);
    UpdateWindow(w.button);
    EXPECT_TRUE(Near(face(), Slot(SkinButtonDisabledFace)));

    // The check box: its box, its mark, and a click through the system's logic.
    RECT rc;
    GetClientRect(w.check, &rc);
    const int boxTop = (rc.bottom - 13) / 2;
    EXPECT_TRUE(Near(ClientPixel(w.check, 0, boxTop + 6), Slot(SkinCheckBorder)));
    EXPECT_TRUE(Near(ClientPixel(w.check, 2, boxTop + 2), Slot(SkinCheckFace)));
    auto markPixels = [&] {
        int n = 0;
        for (int y = boxTop; y < boxTop + 13; ++y)
            for (int x = 0; x < 13; ++x) n += Near(ClientPixel(w.check, x, y), Slot(SkinCheckMark), 30);
        return n;
    };
    EXPECT_EQ(markPixels(), 0);
    SendMessageW(w.check, BM_CLICK, 0, 0);
    UpdateWindow(w.check);
    EXPECT_EQ(SendMessageW(w.check, BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_GT(markPixels(), 8);
    SendMessageW(w.check, BM_SETCHECK, BST_UNCHECKED, 0);
    UpdateWindow(w.check);
    EXPECT_EQ(markPixels(), 0);

    // The group box's line.
    EXPECT_TRUE(Near(ClientPixel(w.group, 0, 60), Slot(SkinGroupLine)));
}

TEST_F(SkinnedWindow, TitleBarButtonsAreTrackedByTheSkin) {
    TestWindow& w = *window_;
    RECT window;
    GetWindowRect(w.frame, &window);
    const int y = CaptionRow(w.frame);
    auto hit = [&](int x) { return int(SendMessageW(w.frame, WM_NCHITTEST, 0, MAKELPARAM(x, y))); };
    int close = -1, minimise = -1, maximise = -1;
    for (int x = window.right - 1; x > window.left; --x) {
        const int h = hit(x);
        if (h == HTCLOSE && close < 0) close = x;
        if (h == HTMINBUTTON && minimise < 0) minimise = x;
        if (h == HTMAXBUTTON) maximise = x;
    }
    ASSERT_GT(close, 0);
    ASSERT_GT(minimise, 0);
    EXPECT_LT(minimise, close);
    EXPECT_EQ(maximise, -1);  // the window has no maximise box
    EXPECT_EQ(hit((window.left + window.right) / 2), HTCAPTION);
    close -= 3;
    minimise -= 3;

    auto clientPoint = [&](int x) {
        POINT pt = {x, y};
        ScreenToClient(w.frame, &pt);
        return MAKELPARAM(pt.x, pt.y);
    };
    g_commands.clear();
    SendMessageW(w.frame, WM_NCLBUTTONDOWN, HTCLOSE, MAKELPARAM(close, y));
    EXPECT_EQ(GetCapture(), w.frame);
    SendMessageW(w.frame, WM_LBUTTONUP, 0, clientPoint(close));
    EXPECT_EQ(GetCapture(), nullptr);
    ASSERT_EQ(g_commands.size(), 1u);
    EXPECT_EQ(g_commands[0], WPARAM(SC_CLOSE));

    // Let go somewhere else: nothing happens.
    SendMessageW(w.frame, WM_NCLBUTTONDOWN, HTCLOSE, MAKELPARAM(close, y));
    SendMessageW(w.frame, WM_MOUSEMOVE, MK_LBUTTON, clientPoint((window.left + window.right) / 2));
    SendMessageW(w.frame, WM_LBUTTONUP, 0, clientPoint((window.left + window.right) / 2));
    EXPECT_EQ(g_commands.size(), 1u);

    SendMessageW(w.frame, WM_NCLBUTTONDOWN, HTMINBUTTON, MAKELPARAM(minimise, y));
    SendMessageW(w.frame, WM_LBUTTONUP, 0, clientPoint(minimise));
    ASSERT_EQ(g_commands.size(), 2u);
    EXPECT_EQ(g_commands[1], WPARAM(SC_MINIMIZE));

    // With a maximise box, its button sits between the other two.
    TestWindow sizable(400, WS_MAXIMIZEBOX);
    ASSERT_TRUE(sizable.frame);
    sizable.Show();
    GetWindowRect(sizable.frame, &window);
    const int row = CaptionRow(sizable.frame);
    std::vector<int> order;
    for (int x = window.right - 1; x > window.left; --x) {
        const int h = int(SendMessageW(sizable.frame, WM_NCHITTEST, 0, MAKELPARAM(x, row)));
        if ((h == HTCLOSE || h == HTMAXBUTTON || h == HTMINBUTTON) && (order.empty() || order.back() != h)) order.push_back(h);
    }
    EXPECT_EQ(order, (std::vector<int>{HTCLOSE, HTMAXBUTTON, HTMINBUTTON}));
}

// ---- message boxes and other dialogs ---------------------------------------------

struct BoxLook {
    bool seen = false, subclassed = false, buttonSubclassed = false;
    COLORREF client = 0;
    int captionRow = 0, gradientPixels = 0;  // of the title bar's middle row
} g_box;

void CALLBACK LookAtBox(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = FindWindowW(L"#32770", L"皮肤测试框");
    if (!box || !IsWindowVisible(box)) return;
    KillTimer(nullptr, timer);
    Pump(150);
    RECT window;
    GetWindowRect(box, &window);
    g_box.seen = true;
    g_box.subclassed = Subclassed(box);
    g_box.buttonSubclassed = Subclassed(GetDlgItem(box, IDOK));
    g_box.client = ClientPixel(box, 2, 2);
    // Most of the row is the gradient; the title's text and the close button take the rest.
    g_box.captionRow = window.right - window.left;
    for (int x = 0; x < g_box.captionRow; ++x) {
        const COLORREF c = PixelOf(box, x, CaptionRow(box) - window.top);
        g_box.gradientPixels += Between(c, Slot(SkinCaptionTop), Slot(SkinCaptionBottom)) ||
                                Between(c, Slot(SkinCaptionInactiveTop), Slot(SkinCaptionInactiveBottom));
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
}

// A dialog template in memory: a caption, an edit box and a button.
std::vector<WORD> DialogTemplate() {
    std::vector<WORD> t;
    auto dword = [&](DWORD v) { t.push_back(LOWORD(v)); t.push_back(HIWORD(v)); };
    auto text = [&](const wchar_t* s) { do t.push_back(*s); while (*s++); };
    auto align = [&] { if (t.size() % 2) t.push_back(0); };
    dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | WS_VISIBLE);
    dword(0);
    t.push_back(2);
    for (WORD v : {WORD(10), WORD(10), WORD(160), WORD(80)}) t.push_back(v);
    t.push_back(0);  // no menu
    t.push_back(0);  // the dialog class
    text(L"普通对话框");
    t.push_back(9);
    text(L"Tahoma");
    auto item = [&](DWORD style, short x, short y, short cx, short cy, WORD id, WORD atom) {
        align();
        dword(style | WS_CHILD | WS_VISIBLE);
        dword(0);
        for (short v : {x, y, cx, cy}) t.push_back(WORD(v));
        t.push_back(id);
        t.push_back(0xFFFF);
        t.push_back(atom);
        t.push_back(0);  // no text
        t.push_back(0);  // no creation data
    };
    item(ES_LEFT | WS_BORDER, 10, 10, 100, 14, 100, 0x0081);
    item(BS_PUSHBUTTON, 10, 40, 50, 14, IDOK, 0x0080);
    return t;
}

INT_PTR CALLBACK PlainDialogProc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }

TEST(SkinLibrary, SkinsMessageBoxesButNotOtherDialogs) {
    ASSERT_TRUE(Attach());
    SetTimer(nullptr, 0, 50, LookAtBox);
    MessageBoxW(nullptr, L"皮肤下的消息框", L"皮肤测试框", MB_OK | MB_ICONINFORMATION);
    ASSERT_TRUE(g_box.seen);
    EXPECT_TRUE(g_box.subclassed);
    EXPECT_TRUE(g_box.buttonSubclassed);
    EXPECT_TRUE(Near(g_box.client, Slot(SkinClient))) << std::hex << g_box.client;
    EXPECT_GT(g_box.gradientPixels, g_box.captionRow / 3) << "of " << g_box.captionRow;

    // A dialog with other controls (as the folder browser has) is the system's.
    const std::vector<WORD> layout = DialogTemplate();
    HWND dialog = CreateDialogIndirectParamW(GetModuleHandleW(nullptr), reinterpret_cast<LPCDLGTEMPLATEW>(layout.data()),
                                             nullptr, PlainDialogProc, 0);
    ASSERT_TRUE(dialog);
    Pump();
    EXPECT_FALSE(Subclassed(GetDlgItem(dialog, IDOK)));
    RECT rc;
    GetClientRect(dialog, &rc);
    EXPECT_TRUE(Near(ClientPixel(dialog, rc.right - 3, rc.bottom - 3), GetSysColor(COLOR_BTNFACE)));
    DestroyWindow(dialog);
}

}  // namespace
