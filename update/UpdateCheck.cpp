#include "update/UpdateCheck.h"

#include "runtime/Dialogs.h"
#include "runtime/Encoding.h"
#include "runtime/ShellUtil.h"
#include "update/AnnouncementPages.h"
#include "update/AnnouncementText.h"
#include "update/DownloadAddress.h"
#include "update/PageFetch.h"
#include "update/SignedAnnouncement.h"
#include "update/TextBetween.h"

namespace {

struct Marker {
    const char* start;
    const char* end;
};
const Marker kNote1 = {"首1</p><p>", "</p><p>尾1"};
const Marker kNote2 = {"首2</p><p>", "</p><p>尾2"};
const Marker kVersion = {"当前版本号为</p><p>", "</p><p>需要更新"};
const Marker kDownload = {"地址</p><p>", "</p><p>地址"};

const char kUpdateTitle[] = "更新提示";
const char kNoticeTitle[] = "温馨提示°";
const char kAddressRefused[] = "下载地址未通过安全检查，没有打开：\r\n";
const char kAddressNotOpened[] = "无法打开下载地址，请复制下面的地址到浏览器中打开：\r\n";
const char kNotVerified[] = "新版本公告未能通过验证，没有提供更新。请稍后再试或访问官网下载新版本。";

Text Between(const Text& page, const Marker& m) { return TextBetween(page, m.start, m.end); }

Text ReadPage(const Bytes& body) { return Utf8ToGbk(BytesToText(body)); }

// How long the check waits for both pages: at start-up the window is not on
// screen yet, so briefly; from the menu the program stays live meanwhile.
constexpr unsigned kStartupWaitMs = 3000;
constexpr unsigned kMenuWaitMs = 10000;

bool g_checking = false;

void CheckOnce(WindowRef mainWindow, bool silentWhenCurrent) {
    // Both pages at once, within a bound: start-up must not stall on a dead
    // host, and the menu's check may wait longer while the program stays live.
    const std::vector<Bytes> pages = FetchPages({Text(VELMORA_NOTES_URL), Text(VELMORA_VERSION_URL)},
                                                silentWhenCurrent ? kStartupWaitMs : kMenuWaitMs);
    // Closed while it waited: nobody is left to ask.
    if (!WindowAlive(mainWindow)) return;
    const Text notesPage = ReadPage(pages[0]);
    const Text note1 = CleanNote(Between(notesPage, kNote1));
    const Text note2 = CleanNote(Between(notesPage, kNote2));
    const Text own = GetProperty(mainWindow, nullptr, kPropTitle).text;
    const Text versionPage = ReadPage(pages[1]);
    const Text announced = Between(versionPage, kVersion);

    // Nothing announced (no page, no marker, no value), or something that is
    // no version, is not a new version.
    if (!IsAnnouncedVersion(announced)) {
        if (!silentWhenCurrent) ShowMessage("检查更新失败，暂时无法读取版本信息，请稍后再试。", kBoxOk, Text(kUpdateTitle));
        return;
    }
    // The whole caption against the announced text, byte for byte.
    if (own == announced) {
        if (!silentWhenCurrent) ShowMessage("当前已是最新版本，感谢使用~o(∩_∩)o ", kBoxOk, Text(kUpdateTitle));
        return;
    }
    const Text address = Between(versionPage, kDownload);
    // With the maker's key built in, only what the maker signed is offered.
    const Bytes key = BuiltInAnnouncementKey();
    const Text signature = TextBetween(versionPage, kSignatureStart, kSignatureEnd);
    if (!key.empty() && !IsSignedAnnouncement(announced, address, signature, key, TodayUtc())) {
        if (!silentWhenCurrent) ShowMessage(kNotVerified, kBoxOk, Text(kNoticeTitle));
        return;
    }
    const Text offer = "软件发现新版本！请立即更新~\r\n" + announced + "\r\n\r\n本次更新内容如下：\r\n" + note1 + "\r\n" + note2;
    if (ShowMessage(offer, kBoxYesNo, Text("新版本提示：")) != kPressedYes) return;

    if (address.empty()) {
        ShowMessage("未找到有效的下载地址，请稍后再试或访问官网下载新版本。", kBoxOk, Text(kUpdateTitle));
        return;
    }
    // Checked as the shell will get it, and handed over exactly so.
    const std::wstring shellAddress = GbkToWide(address);
    if (!IsDownloadAddress(shellAddress, BuiltInDownloadPolicy())) {
        ShowMessage(kAddressRefused + AddressForBox(address), kBoxOk, Text(kNoticeTitle));
        return;
    }
    // Nothing opened: the player can still copy the address from the box.
    if (!OpenWideUrl(shellAddress)) {
        ShowMessage(kAddressNotOpened + address, kBoxOk, Text(kNoticeTitle));
        return;
    }
    DestroyWindowLater(mainWindow);
}

}  // namespace

void CheckForUpdate(WindowRef mainWindow, bool silentWhenCurrent) {
    // The menu item again while a check waits or its box is open (start-up's
    // included): nothing. A second offer would open the address twice.
    if (g_checking) return;
    g_checking = true;
    CheckOnce(mainWindow, silentWhenCurrent);
    g_checking = false;
}
