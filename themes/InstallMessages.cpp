#include "themes/InstallMessages.h"

#include <windows.h>

#include "runtime/Dialogs.h"
#include "runtime/Encoding.h"
#include "themes/InstallPack.h"

const char kInstallTitle[] = "温馨提示°";

namespace {

const char kUnchanged[] = "\r\n游戏文件没有任何改动。";

// Work left on one file (an original to put back, a step after the change
// to finish), told by what stopped it: a file in use is freed by closing the
// game, but no retry mends missing rights or a write-protected disk.
struct LeftWords {
    const char* putBack;  // "…" + the game file
    const char* finish;   // "…" + the file of the step left
    const char* remedy;   // what the player does so that a later run finishes it
};

const LeftWords kInUseWords = {
    "以下游戏文件正在被占用，暂时无法放回原处：",
    "以下文件正在被占用（可能是游戏或杀毒软件），暂时无法处理：",
    "请关闭游戏，Velmora会在下次启动或下次修改时自动",
};
const LeftWords kNoRightsWords = {
    "没有权限把以下游戏文件放回原处：",
    "没有权限处理以下文件：",
    "该文件夹受系统保护，请右键点击Velmora，选择“以管理员身份运行”，Velmora会在启动时自动",
};
const LeftWords kWriteProtectedWords = {
    "磁盘处于写保护状态，以下游戏文件无法放回原处：",
    "磁盘处于写保护状态，无法处理以下文件：",
    "请解除该磁盘的写保护，Velmora会在下次启动或下次修改时自动",
};

InstallProblem KindOf(unsigned long error) {
    InstallFailure kind;
    NoteFailure(&kind, error, L"");
    return kind.problem;
}

const LeftWords* WordsFor(unsigned long error) {
    switch (KindOf(error)) {
        case InstallProblem::InUse: return &kInUseWords;
        case InstallProblem::AccessDenied: return &kNoRightsWords;
        case InstallProblem::WriteProtected: return &kWriteProtectedWords;
        default: return nullptr;  // told by its code, with the in-use remedy
    }
}

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
    const LeftWords* words = WordsFor(e);
    return (words ? Text(words->putBack) : "以下游戏文件暂时无法放回原处（错误代码 " + std::to_string(e) + "）：") +
           "\r\n" + GamePath(f.unrestoredPath) + "\r\n\r\n游戏目录尚未恢复原样。" +
           (words ? words->remedy : kInUseWords.remedy) + "把它放回原处。";
}

Text LeftToFinish(unsigned long error, const std::wstring& relative) {
    const LeftWords* words = WordsFor(error);
    return (words ? Text(words->finish) : "以下文件暂时无法处理（错误代码 " + std::to_string(error) + "）：") + "\r\n" +
           GamePath(relative) + "\r\n\r\n" + (words ? words->remedy : kInUseWords.remedy) + "完成它。";
}

Text UnfinishedText(const InstallFailure& f) {
    return "但还有一步收尾工作没有完成，" + LeftToFinish(f.unfinishedError, f.unfinishedPath) +
           "在此之前，托盘菜单显示“当前界面：上次修改未完成”。";
}

Text FailureText(const InstallFailure& f, FailedAction action, int* flags) {
    const bool undo = action == FailedAction::Undo;
    const Text failed = undo ? "撤销失败：" : "修改失败：";
    const Text where = GamePath(f.relativePath);
    Text text;
    *flags = kBoxError;
    switch (f.problem) {
        case InstallProblem::Unfinished:
            return failed + "上次修改还没有撤销完成，" + Unrestored(f);
        case InstallProblem::InUse:
            text = failed + "游戏文件正在被占用，无法" + (undo ? "恢复" : "替换") + "：\r\n" + where +
                   "\r\n\r\n游戏可能正在运行，请关闭游戏后重试。";
            *flags = kBoxWarning;
            break;
        case InstallProblem::AccessDenied:
            text = failed + "没有权限写入游戏目录：\r\n" + where +
                   "\r\n\r\n该文件夹受系统保护，请右键点击Velmora，选择“以管理员身份运行”后重试。";
            break;
        case InstallProblem::WriteProtected:
            text = failed + "磁盘处于写保护状态，无法写入：\r\n" + where +
                   "\r\n\r\n请解除该磁盘的写保护（例如U盘或存储卡上的写保护开关）后重试。";
            break;
        case InstallProblem::DiskFull:
            text = failed + "磁盘空间不足，无法写入：\r\n" + where + "\r\n\r\n请清理游戏所在的磁盘后重试。";
            break;
        case InstallProblem::Damaged:
            text = failed + "界面包已损坏：\r\n" + where + "\r\n\r\n请重新下载Velmora后重试。";
            break;
        case InstallProblem::Busy:
            *flags = kBoxWarning;
            return failed + BusyText() + kUnchanged;
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
    if (f.unrestoredPath.empty()) return text + kUnchanged;
    *flags = kBoxError;
    return text + (undo ? "\r\n\r\n退回撤销之前的样子时，" : "\r\n\r\n撤销修改时，") + Unrestored(f);
}

void ShowInstallFailure(const InstallFailure& f, FailedAction action) {
    int flags = kBoxError;
    const Text text = FailureText(f, action, &flags);
    ShowMessage(text, flags, Text(kInstallTitle));
}
