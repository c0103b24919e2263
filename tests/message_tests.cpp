// ShowMessage against the real system boxes: a second thread plays the user,
// finds the box by its caption, reads it and presses its buttons.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

#include "runtime/Dialogs.h"
#include "runtime/Encoding.h"

namespace {

struct SeenBox {
    bool found = false;
    std::wstring caption;
    std::wstring text;
    bool ownerDisabled = false;
};

HWND WaitForBox(const std::wstring& caption) {
    for (int i = 0; i < 500; ++i) {
        // Read only once it is on screen: it is still being filled before that.
        if (HWND box = FindWindowW(L"#32770", caption.c_str()); box && IsWindowVisible(box)) {
            Sleep(50);
            return box;
        }
        Sleep(10);
    }
    return nullptr;
}

std::wstring WindowText(HWND hwnd) {
    wchar_t buf[1024] = {};
    GetWindowTextW(hwnd, buf, 1024);
    return buf;
}

// The user: waits for the box, records what it shows, then acts on it.
class User {
public:
    User(std::wstring caption, std::function<void(HWND)> act, HWND watched = nullptr)
        : thread_([=] {
              HWND box = WaitForBox(caption);
              if (!box) return;
              seen_.found = true;
              seen_.caption = WindowText(box);
              seen_.text = WindowText(GetDlgItem(box, 0xFFFF));
              if (watched) seen_.ownerDisabled = !IsWindowEnabled(watched);
              act(box);
          }) {}
    const SeenBox& Seen() {
        thread_.join();
        return seen_;
    }

private:
    SeenBox seen_;
    std::thread thread_;
};

void Press(HWND box, int id) { PostMessageW(GetDlgItem(box, id), BM_CLICK, 0, 0); }
void PressEsc(HWND box) {
    HWND focus = GetDlgItem(box, IDOK) ? GetDlgItem(box, IDOK) : GetDlgItem(box, IDYES);
    PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(focus, WM_KEYUP, VK_ESCAPE, 0);
}

TEST(ShowMessage, OmittedTitleShowsTheDefaultCaption) {
    User user(L"信息：", [](HWND box) { Press(box, IDOK); });
    EXPECT_EQ(ShowMessage("网站地址已复制，粘贴快捷键 CTRL+V", kBoxOk), kPressedOk);
    const SeenBox& seen = user.Seen();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.caption, L"信息：");
    EXPECT_EQ(seen.text, L"网站地址已复制，粘贴快捷键 CTRL+V");
}

TEST(ShowMessage, OkCancelGivesZeroOrOneAndEscIsCancel) {
    {
        User user(L"程序准备关闭中~~", [](HWND box) { Press(box, IDOK); });
        EXPECT_EQ(ShowMessage("确定退出本程序吗？", kBoxOkCancel, Text("程序准备关闭中~~")), kPressedOk);
        EXPECT_TRUE(user.Seen().found);
    }
    {
        User user(L"程序准备关闭中~~", [](HWND box) { Press(box, IDCANCEL); });
        EXPECT_EQ(ShowMessage("确定退出本程序吗？", kBoxOkCancel, Text("程序准备关闭中~~")), kPressedCancel);
        EXPECT_TRUE(user.Seen().found);
    }
    {
        User user(L"程序准备关闭中~~", PressEsc);
        EXPECT_EQ(ShowMessage("确定退出本程序吗？", kBoxOkCancel, Text("程序准备关闭中~~")), kPressedCancel);
        EXPECT_TRUE(user.Seen().found);
    }
}

TEST(ShowMessage, YesNoGivesFiveOrSix) {
    {
        User user(L"新版本提示：", [](HWND box) { Press(box, IDYES); });
        EXPECT_EQ(ShowMessage("有新版本", kBoxYesNo, Text("新版本提示：")), kPressedYes);
        EXPECT_TRUE(user.Seen().found);
    }
    User user(L"新版本提示：", [](HWND box) { Press(box, IDNO); });
    EXPECT_EQ(ShowMessage("有新版本", kBoxYesNo, Text("新版本提示：")), kPressedNo);
    EXPECT_TRUE(user.Seen().found);
}

TEST(ShowMessage, IsModalToTheProgramsWindows) {
    HWND window = CreateWindowExW(0, L"STATIC", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200,
                                  100, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    ASSERT_TRUE(window);
    User user(L"温馨提醒：", [](HWND box) { Press(box, IDOK); }, window);
    EXPECT_EQ(ShowMessage("本软件使用完全免费", kBoxInformation, Text("温馨提醒：")), kPressedOk);
    EXPECT_TRUE(user.Seen().ownerDisabled);
    EXPECT_TRUE(IsWindowEnabled(window));
    DestroyWindow(window);
}

}  // namespace
