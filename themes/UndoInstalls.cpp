#include "themes/UndoInstalls.h"

#include <windows.h>

#include "runtime/Dialogs.h"
#include "runtime/Encoding.h"
#include "runtime/LongPath.h"
#include "runtime/ScopedHandle.h"
#include "install/FolderLock.h"
#include "themes/InstallMessages.h"
#include "themes/InstallPack.h"
#include "install/InstallSteps.h"
#include "install/InstallSwap.h"
#include "themes/InstallThemePack.h"
#include "install/SwapNames.h"

namespace {

// The most files the closing box names; the count says how many in all.
constexpr std::size_t kNamedLeft = 10;

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

bool Named(const std::vector<std::wstring>& names, const std::wstring& relative) {
    for (const std::wstring& n : names)
        if (SameName(n, relative)) return true;
    return false;
}

bool FolderOfExists(const std::wstring& full) {
    const DWORD a = GetFileAttributesW(full.substr(0, full.find_last_of(L'\\')).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// The first set-aside original under `folder` (relative to Game), at any
// depth: with no record it is the player's file whose journal was lost (a
// cleaner, a repair tool, a power cut), waiting beside ours. Links are not
// followed: what lies behind one is not Game's.
bool FindStrayOriginal(const std::wstring& game, const std::wstring& folder, std::wstring* relative) {
    constexpr std::size_t kSuffix = sizeof kAsideSuffix / sizeof kAsideSuffix[0] - 1;
    WIN32_FIND_DATAW entry;
    const std::wstring prefix = folder.empty() ? std::wstring() : folder + L"\\";
    ScopedFind find(FindFirstFileW((game + L"\\" + prefix + L"*").c_str(), &entry));
    if (!find) return false;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                FindStrayOriginal(game, prefix + name, relative))
                return true;
        } else if (name.size() > kSuffix && SameName(name.substr(name.size() - kSuffix), kAsideSuffix)) {
            *relative = prefix + name;
            return true;
        }
    } while (FindNextFileW(find.get(), &entry));
    return false;
}

// Which recorded files come back, which go, and which stay because they no
// longer hold what we wrote; which originals go with the store and which it
// keeps. Every original that is to come back is checked against the record
// before anything changes: one that is missing or other than it was is not
// put back in the player's folder, and the undo does not start. An original
// goes only where it came back, where its bytes stand in Game again, or
// where the game's file supersedes it and `discard` names it (the question
// said so); the store keeps every other one, under a record naming them.
bool PlanUndo(const std::wstring& game, const BackupRecord& record, const std::vector<std::wstring>& discard,
              UndoPlan* plan, UndoOutcome* outcome, InstallFailure* failure) {
    const std::wstring store = StoreFolder(game);
    BackupRecord keeps = record;
    keeps.files.clear();
    keeps.folders.clear();
    const auto checkOriginal = [&](const RecordedFile& f) {
        FileHash kept;
        const std::wstring original = OriginalPath(store, f.relative);
        const HashResult read = HashOriginal(original, &kept);
        if (read == HashResult::Unreadable)
            return NoteFailure(failure, GetLastError(), StoreRelative(L"originals\\" + f.relative));
        if (read == HashResult::Missing || kept != *f.original)
            return NoteStoreDamaged(failure, StoreRelative(L"originals\\" + f.relative));
        return true;
    };
    for (const RecordedFile& f : record.files) {
        const std::wstring full = game + L"\\" + f.relative;
        FileHash now;
        const HashResult hashed = HashOriginal(full, &now);
        if (hashed == HashResult::Unreadable) return NoteFailure(failure, GetLastError(), f.relative);
        switch (Classify(f, hashed == HashResult::Hashed ? &now : nullptr)) {
            case RecordedNow::Ours:
                // Ours goes aside under our staged name: a leftover there is ours too.
                if (!DeleteStep(StagedPath(full))) return NoteFailure(failure, GetLastError(), f.relative);
                if (!f.original) {
                    plan->remove.push_back(f.relative);
                    plan->removed.push_back(f);
                    break;
                }
                if (!checkOriginal(f)) return false;
                plan->restore.push_back(f.relative);
                plan->restored.push_back(f);
                break;
            case RecordedNow::Vanished:
                // Its folder gone too: the original stays in the store, and the box says where.
                if (!FolderOfExists(full)) {
                    keeps.files.push_back(f);
                    outcome->kept.push_back(f.relative);
                    break;
                }
                if (!checkOriginal(f)) return false;
                plan->putBack.push_back(f.relative);
                plan->putBackFiles.push_back(f);
                break;
            case RecordedNow::AsBefore:
                // The original's bytes stand in Game again: its copy in the
                // store may go, once the bytes themselves say so.
                if (!f.original) break;
                if (SameBytes(full, OriginalPath(store, f.relative))) {
                    plan->asBefore.push_back(f.relative);
                    break;
                }
                keeps.files.push_back(f);
                outcome->kept.push_back(f.relative);
                break;
            case RecordedNow::Superseded:
                outcome->left.push_back(f.relative);
                if (Named(discard, f.relative)) {
                    plan->drop.push_back(f.relative);
                } else {
                    keeps.files.push_back(f);
                    outcome->kept.push_back(f.relative);
                }
                break;
            case RecordedNow::Patched:
                outcome->left.push_back(f.relative);
                break;
        }
    }
    plan->folders = record.folders;
    plan->keepStore = !keeps.files.empty();
    plan->record = keeps;
    return true;
}

}  // namespace

bool UndoInstalls(const std::wstring& game, const std::vector<std::wstring>& discard, UndoOutcome* outcome,
                  InstallFailure* failure) {
    *outcome = UndoOutcome();
    // Held from before the record is read until the last step: a plan made
    // from a record that another instance's install changed meanwhile
    // would take back the wrong files.
    FolderLock lock;
    if (!lock.Take(game, failure)) return false;
    // A crash's leftovers first: the record is read as the folder stands after them.
    InstallFailure earlier;
    if (!RecoverGameFolder(game, &earlier)) {
        *failure = RefusedOver(earlier);
        return false;
    }
    BackupRecord record;
    switch (ReadRecord(StoreFolder(game), &record)) {
        case RecordRead::None: {
            // Not "nothing installed" while an original of ours waits: the
            // box names it, and it is never deleted.
            std::wstring stray;
            if (FindStrayOriginal(game, std::wstring(), &stray)) return NoteStrayOriginal(failure, stray);
            outcome->nothingInstalled = true;
            return true;
        }
        case RecordRead::Unreadable:
            return NoteStoreDamaged(failure, StoreRelative(L"record.txt"));
        case RecordRead::Read:
            break;
    }
    UndoPlan plan;
    if (!PlanUndo(game, record, discard, &plan, outcome, failure)) return false;
    InstallSwap swap(game);
    std::vector<RecordedFile> changed;
    if (!swap.Undo(plan, &changed, failure)) return false;
    outcome->unfinished = *failure;
    // Written by the game while the undo set them aside: left as the game has them.
    for (const RecordedFile& f : changed) {
        outcome->left.push_back(f.relative);
        if (f.original) outcome->kept.push_back(f.relative);
    }
    return true;
}

Text UndoDoneText(const UndoOutcome& outcome, const std::wstring& game) {
    // In place, but not yet all of it finished: not the plain success text.
    Text text = outcome.unfinished.unfinishedPath.empty()
                    ? Text("撤销成功,已恢复原来的文件！")
                    : "撤销已生效，原来的文件已放回，" + UnfinishedText(outcome.unfinished);
    if (!outcome.left.empty()) {
        text += "\r\n\r\n有" + std::to_string(outcome.left.size()) +
                "个文件在修改之后已被游戏更新，为免覆盖游戏的新文件，保持不变：";
        for (std::size_t i = 0; i < outcome.left.size() && i < kNamedLeft; ++i)
            text += "\r\n" + GamePath(outcome.left[i]);
        if (outcome.left.size() > kNamedLeft) text += "\r\n……";
    }
    if (!outcome.kept.empty()) {
        // The store lies beside Game, not in it: named by its whole path, where the player finds it.
        text += "\r\n\r\n有" + std::to_string(outcome.kept.size()) + "个文件修改之前的原始文件没有放回，仍保存在“" +
                WideToGbk(PlainPath(StoreFolder(game))) + "”文件夹中：";
        for (std::size_t i = 0; i < outcome.kept.size() && i < kNamedLeft; ++i)
            text += "\r\n" + GamePath(StoreRelative(L"originals\\" + outcome.kept[i]));
        if (outcome.kept.size() > kNamedLeft) text += "\r\n……";
    }
    return text;
}

Text InstalledCaption(const InstalledState& state) {
    Text caption = "当前界面：";
    if (state.unfinished) {
        // Not 原始: what the last change set aside may wait beside the game's files.
        caption += "上次修改未完成";
    } else if (state.record == RecordRead::None) {
        caption += "原始";
    } else if (state.record == RecordRead::Unreadable) {
        caption += "未知";
    } else if (state.ours == 0) {
        // No file of ours stands (an undo kept originals the game's files
        // supersede, or the game replaced them all): no theme shows, but
        // the store still keeps the player's files.
        caption += "原始（原来的部分文件仍保存在Velmora备份中）";
    } else {
        caption += state.word;
        if (state.changed > 0) caption += "（" + std::to_string(state.changed) + "个文件已被游戏更新）";
    }
    return caption;
}

void UndoThemeInstalls(const Text& target, const std::vector<std::wstring>& discard) {
    const std::wstring game = GameFolderOf(target);
    UndoOutcome outcome;
    InstallFailure failure;
    if (!game.empty() && !UndoInstalls(game, discard, &outcome, &failure)) {
        ShowInstallFailure(failure, FailedAction::Undo);
        return;
    }
    if (game.empty() || outcome.nothingInstalled) {
        ShowMessage("当前没有需要撤销的修改，游戏文件保持原样。", kBoxInformation, Text(kInstallTitle));
        return;
    }
    ShowMessage(UndoDoneText(outcome, game), outcome.unfinished.unfinishedPath.empty() ? kBoxInformation : kBoxWarning,
                Text(kInstallTitle));
}

InstalledState InstalledIn(const Text& target) {
    const std::wstring game = GameFolderOf(target);
    return game.empty() ? InstalledState() : ReadInstalledState(game);
}

void ReadInstalledAhead(const Text& target) {
    const std::wstring game = GameFolderOf(target);
    if (!game.empty()) ReadInstalledStateAhead(game);
}
