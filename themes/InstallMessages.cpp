#include "themes/InstallMessages.h"

#include <windows.h>

#include "runtime/Dialogs.h"
#include "runtime/Encoding.h"
#include "themes/InstallPack.h"

const char kInstallTitle[] = "温馨提示°";

namespace {

const char kUnchanged[] = "\r\n游戏文件没有任何改动。";
const char kNotYetRestored[] =
    "\r\n\r\n游戏目录尚未恢复原样。请关闭游戏，Velmora会在下次启动或下次修改时自动把它放回原处。";

}  // namespace

Text GamePath(const std::wstring& relative) {
    if (relative.compare(0, 3, L"..\\") == 0) return WideToGbk(relative.substr(3));  // the store, beside Game
    return "Game\\" + (relative.empty() ? WideToGbk(kPackArchiveName) : WideToGbk(relative));
}

Text BusyText() {
    return "另一个Velmora正在修改游戏目录，请等它完成后重试。";
}

Text Unrestored(const InstallFailure& f) {
    const unsigned long e = f.unrestoredError;
    const bool inUse = e == ERROR_SHARING_VIOLATION || e == ERROR_LOCK_VIOLATION || e == ERROR_USER_MAPPED_FILE;
    return (inUse ? Text("以下游戏文件正在被占用，暂时无法放回原处：")
                  : "以下游戏文件暂时无法放回原处（错误代码 " + std::to_string(e) + "）：") +
           "\r\n" + GamePath(f.unrestoredPath) + kNotYetRestored;
}

void ShowInstallFailure(const InstallFailure& f, FailedAction action) {
    const bool undo = action == FailedAction::Undo;
    const Text failed = undo ? "撤销失败：" : "修改失败：";
    const Text where = GamePath(f.relativePath);
    Text text;
    int flags = kBoxError;
    switch (f.problem) {
        case InstallProblem::Unfinished:
            ShowMessage(failed + "上次修改还没有撤销完成，" + Unrestored(f), kBoxError, Text(kInstallTitle));
            return;
        case InstallProblem::InUse:
            text = failed + "游戏文件正在被占用，无法" + (undo ? "恢复" : "替换") + "：\r\n" + where +
                   "\r\n\r\n游戏可能正在运行，请关闭游戏后重试。";
            flags = kBoxWarning;
            break;
        case InstallProblem::AccessDenied:
            text = failed + "没有权限写入游戏目录：\r\n" + where +
                   "\r\n\r\n该文件夹受系统保护，请右键点击Velmora，选择“以管理员身份运行”后重试。";
            break;
        case InstallProblem::DiskFull:
            text = failed + "磁盘空间不足，无法写入：\r\n" + where + "\r\n\r\n请清理游戏所在的磁盘后重试。";
            break;
        case InstallProblem::Damaged:
            text = failed + "界面包已损坏：\r\n" + where + "\r\n\r\n请重新下载Velmora后重试。";
            break;
        case InstallProblem::Busy:
            ShowMessage(failed + BusyText() + kUnchanged, kBoxWarning, Text(kInstallTitle));
            return;
        case InstallProblem::StrayOriginal:
            text = failed + "游戏目录里有一个Velmora替换下来、尚未放回的原始文件：\r\n" + where +
                   "\r\n\r\n它可能是您原来的文件，Velmora不会删除它。请把它移到别处保存后重试。";
            break;
        case InstallProblem::OtherVolume:
            text = failed + "游戏目录里的这个文件夹在另一个磁盘分区上（可能是指向别处的链接）：\r\n" + where +
                   "\r\n\r\nVelmora无法把其中原来的文件保存到备份文件夹。请把它移回游戏所在的分区后重试。";
            break;
        case InstallProblem::StoreDamaged:
            text = failed + "Velmora备份的文件已损坏或缺失：\r\n" + where +
                   "\r\n\r\n为免弄丢原来的文件，请不要手动修改或删除“Velmora备份”文件夹。";
            break;
        default:
            text = failed + "无法写入游戏文件：\r\n" + where + "\r\n（错误代码 " + std::to_string(f.error) +
                   "）\r\n\r\n请关闭游戏后重试。";
    }
    if (f.unrestoredPath.empty())
        ShowMessage(text + kUnchanged, flags, Text(kInstallTitle));
    else
        ShowMessage(text + (undo ? "\r\n\r\n退回撤销之前的样子时，" : "\r\n\r\n撤销修改时，") + Unrestored(f), kBoxError,
                    Text(kInstallTitle));
}
