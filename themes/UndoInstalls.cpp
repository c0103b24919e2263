#include "themes/UndoInstalls.h"

#include <windows.h>

#include "runtime/Dialogs.h"
#include "themes/InstallMessages.h"
#include "themes/InstallPack.h"
#include "themes/InstallSteps.h"
#include "themes/InstallSwap.h"
#include "themes/InstallThemePack.h"
#include "themes/SwapNames.h"

namespace {

// The most files the closing box names; the count says how many in all.
constexpr std::size_t kNamedLeft = 10;

// Which recorded files come back, which go, and which stay because they no
// longer hold what we wrote. Every original is checked against the record
// before anything changes: one that is missing or other than it was is not
// put back in the player's folder, and the undo does not start.
bool PlanUndo(const std::wstring& game, const BackupRecord& record, UndoPlan* plan, std::vector<std::wstring>* left,
              InstallFailure* failure) {
    const std::wstring store = StoreFolder(game);
    for (const RecordedFile& f : record.files) {
        const std::wstring full = game + L"\\" + f.relative;
        FileHash now;
        const HashResult hashed = HashOriginal(full, &now);
        if (hashed == HashResult::Unreadable) return NoteFailure(failure, GetLastError(), f.relative);
        const bool there = hashed == HashResult::Hashed;
        if (there && now == f.installed) {
            // Ours goes aside under our staged name: a leftover there is ours too.
            if (!DeleteStep(StagedPath(full))) return NoteFailure(failure, GetLastError(), f.relative);
            if (!f.original) {
                plan->remove.push_back(f.relative);
                continue;
            }
            FileHash kept;
            const std::wstring original = OriginalPath(store, f.relative);
            const HashResult read = HashOriginal(original, &kept);
            if (read == HashResult::Unreadable) return NoteFailure(failure, GetLastError(), StoreRelative(L"originals\\" + f.relative));
            if (read == HashResult::Missing || kept != *f.original)
                return NoteStoreDamaged(failure, StoreRelative(L"originals\\" + f.relative));
            plan->restore.push_back(f.relative);
        } else if (there ? (f.original && now == *f.original) : !f.original) {
            // Already as it was before our first install.
        } else {
            left->push_back(f.relative);
        }
    }
    plan->folders = record.folders;
    return true;
}

Text DoneText(const UndoOutcome& outcome) {
    Text text = "撤销成功,已恢复原来的文件！";
    if (outcome.left.empty()) return text;
    text += "\r\n\r\n有" + std::to_string(outcome.left.size()) +
            "个文件在修改之后已被游戏更新，为免覆盖游戏的新文件，保持不变：";
    for (std::size_t i = 0; i < outcome.left.size() && i < kNamedLeft; ++i) text += "\r\n" + GamePath(outcome.left[i]);
    if (outcome.left.size() > kNamedLeft) text += "\r\n……";
    return text;
}

}  // namespace

bool UndoInstalls(const std::wstring& game, UndoOutcome* outcome, InstallFailure* failure) {
    *outcome = UndoOutcome();
    // A crash's leftovers first: the record is read as the folder stands after them.
    InstallFailure earlier;
    if (!RecoverGameFolder(game, &earlier)) {
        *failure = RefusedOver(earlier);
        return false;
    }
    BackupRecord record;
    switch (ReadRecord(StoreFolder(game), &record)) {
        case RecordRead::None:
            outcome->nothingInstalled = true;
            return true;
        case RecordRead::Unreadable:
            return NoteStoreDamaged(failure, StoreRelative(L"record.txt"));
        case RecordRead::Read:
            break;
    }
    UndoPlan plan;
    if (!PlanUndo(game, record, &plan, &outcome->left, failure)) return false;
    InstallSwap swap(game);
    return swap.Undo(plan, failure);
}

void UndoThemeInstalls(const Text& target) {
    const std::wstring game = GameFolderOf(target);
    UndoOutcome outcome;
    InstallFailure failure;
    if (!game.empty() && !UndoInstalls(game, &outcome, &failure)) {
        ShowInstallFailure(failure, FailedAction::Undo);
        return;
    }
    if (game.empty() || outcome.nothingInstalled) {
        ShowMessage("当前没有需要撤销的修改，游戏文件保持原样。", kBoxInformation, Text(kInstallTitle));
        return;
    }
    ShowMessage(DoneText(outcome), kBoxInformation, Text(kInstallTitle));
}

InstalledState InstalledIn(const Text& target) {
    const std::wstring game = GameFolderOf(target);
    return game.empty() ? InstalledState() : ReadInstalledState(game);
}
