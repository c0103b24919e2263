// What a page read over plain HTTP may put into the program's boxes.
#pragma once

#include "runtime/Text.h"

constexpr int kMaxVersionLength = 32;
constexpr int kMaxNoteCharacters = 500;
// How much of a refused address a box shows.
constexpr int kShownAddressCharacters = 300;

// 1 to 32 characters of 0-9, A-Z, a-z and ".": a version, with or without the
// product name in front; nothing that could pass for a sentence of ours.
bool IsAnnouncedVersion(const Text& version);

// The note without control characters other than CR and LF, cut to its first
// 500 characters (a double-byte character counts once and is never split).
Text CleanNote(const Text& note);

// An address as a box may show it: control characters as "?", and only its
// first characters, followed by "……" when it was longer.
Text AddressForBox(const Text& address);
