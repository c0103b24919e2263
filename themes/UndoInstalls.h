// Taking back what our installs changed in a game's Game folder, and
// telling what is installed there: the features behind the tray menu's
// 当前界面 and 撤销修改 items.
#pragma once

#include "runtime/Text.h"
#include "themes/BackupStore.h"

// The install target "<game folder>\Game" (GBK, as the path box shows it);
// nothing installed when it is no such folder.
InstalledState InstalledIn(const Text& target);
