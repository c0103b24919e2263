#include "themes/UndoInstalls.h"

#include <windows.h>

#include "runtime/Encoding.h"
#include "runtime/LongPath.h"

namespace {

// Only an absolute folder path ending in "\Game" holds our installs.
std::wstring GameFolderOf(const Text& target) {
    const std::wstring wide = GbkToWide(target);
    const bool absolute = (wide.size() > 2 && wide[1] == L':' && wide[2] == L'\\') || wide.compare(0, 2, L"\\\\") == 0;
    if (!absolute || wide.size() < 6 ||
        CompareStringOrdinal(wide.c_str() + wide.size() - 5, 5, L"\\Game", 5, TRUE) != CSTR_EQUAL)
        return std::wstring();
    return ExtendedPath(wide);
}

}  // namespace

InstalledState InstalledIn(const Text& target) {
    const std::wstring game = GameFolderOf(target);
    return game.empty() ? InstalledState() : ReadInstalledState(game);
}
