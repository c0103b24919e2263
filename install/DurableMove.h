// Taking a file into another folder on a volume that does not keep the
// order of its changes (FAT, FAT32, exFAT; see Volume.h). There a rename
// into another folder is two writes, the new entry in one folder and the
// removal from the other, which reach the disk in either order: a power cut
// in between leaves the file in neither folder, or in both (the same
// clusters under two names, so that deleting either destroys the other).
// So the file is copied instead, and its source goes only once the copy
// stands under its new name on disk:
//   1. "<to>.velmora-copy" is written with the source's bytes, times and
//      attributes, and flushed;
//   2. it is renamed to <to> (within one folder), over what stood there
//      where that is asked for;
//   3. <to>'s folder is flushed: the new name is on disk;
//   4. (a move) the source is deleted.
// A ".velmora-copy" is never the only copy of anything: anyone may delete
// it, and each step is run again from the start while the source stands.
#pragma once

#include <string>

// Steps 1 to 3: `to` holds `from`'s bytes on disk; `from` stays as it is
// (its last-access time too). 0, or the Win32 error that stopped it.
// Without `over`, a file that stands at `to` stops it (ERROR_ALREADY_EXISTS).
unsigned long CopyDurably(const std::wstring& from, const std::wstring& to, bool over);
// Steps 1 to 4, over what stands at `to`.
unsigned long MoveDurably(const std::wstring& from, const std::wstring& to);
