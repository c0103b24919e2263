// A theme pack into the game's Game folder: the pack archive written beside
// the game files under our staged name and swapped in with its members; and
// what an install cut short there left behind, put right.
#pragma once

#include <string>

#include "runtime/Text.h"
#include "themes/ArchiveExtract.h"

// The pack archive's name in the Game folder, in that letter case.
extern const wchar_t kPackArchiveName[];

// Puts right an earlier install cut short in `game` (an extended path), then
// writes the pack as the staged pack archive and extracts it there. False
// with component->failure: nothing of this install is left then, and an
// earlier install that still waits for an original refuses it as Unfinished.
// With a catalogue entry (from 1), the backup store beside `game` keeps the
// originals it replaces and records it (BackupStore.h).
bool InstallPackArchive(ZipComponent* component, ByteSpan pack, const std::wstring& game, int entry = 0,
                        const Text& word = Text());
// Finishes or rolls back an install cut short in `game`, and removes a
// staged pack archive that no journal names. False while something could
// not be put right (see InstallFailure::unrestoredPath).
bool RecoverGameFolder(const std::wstring& game, InstallFailure* failure);
