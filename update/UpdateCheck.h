// The check for a newer version against the two announcement pages.
#pragma once

#include "runtime/Window.h"

// Offers a newer version when one is announced; tells the user that the
// program is current only when silentWhenCurrent is false. The main
// window's caption is the program's own version, and an accepted update
// closes that window.
void CheckForUpdate(WindowRef mainWindow, bool silentWhenCurrent);
