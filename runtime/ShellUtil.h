// The shell and the clipboard.
#pragma once

#include <string>

#include "runtime/Text.h"

// Hands an address to the shell's "open" verb; true when the shell says it
// opened it (its result above 32).
bool OpenUrl(const Text& address);
// The same for the wide string exactly as the shell is to get it.
bool OpenWideUrl(const std::wstring& address);
// Puts the text on the clipboard as plain text.
bool SetClipboardText(const Text& text);
