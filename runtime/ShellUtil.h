// The shell and the clipboard.
#pragma once

#include "runtime/Text.h"

// Hands an address to the shell's "open" verb; the shell's answer is not examined.
void OpenUrl(const Text& address);
// Puts the text on the clipboard as plain text.
bool SetClipboardText(const Text& text);
