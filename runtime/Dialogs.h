// The system's modal boxes and dialogs. Each keeps dispatching the thread's
// messages while it is open, so timers and the tray keep working meanwhile.
#pragma once

#include <optional>

#include "runtime/Text.h"

// Button indices that ShowMessage returns.
enum MessageResult { kPressedOk = 0, kPressedCancel, kPressedAbort, kPressedRetry,
                     kPressedIgnore, kPressedYes, kPressedNo };
// Flag words that the program passes.
constexpr int kBoxOk = 0, kBoxOkCancel = 1, kBoxYesNo = 4, kBoxError = 16, kBoxWarning = 48, kBoxInformation = 64;

// A task-modal box with no owner; the title "信息：" when none is given.
int ShowMessage(const Text& text, int flags, const std::optional<Text>& title = std::nullopt);

// The shell's folder browser rooted at the desktop, opened at initialFolder
// when one is given; the empty text on cancel.
Text BrowseForFolder(const Text& title, bool includeFiles = false, const Text& initialFolder = Text());
