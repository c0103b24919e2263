// Finding the game client's folder for the player, once, when none is
// remembered: where the folder browser first opens.
#pragma once

#include "runtime/Text.h"

// The first of these whose path passes the acceptance rule and holds a Game
// folder: the folder of a running "League of Legends.exe" or "Client.exe"
// (or one above it), an uninstall entry naming 英雄联盟, then
// <drive>:\腾讯游戏\英雄联盟, <drive>:\Program Files (x86)\腾讯游戏\英雄联盟
// and <drive>:\英雄联盟 on each fixed drive. Empty when none is found. It
// lists processes and registry keys and looks at a few folders: never the
// whole disk.
Text DetectGameFolder();
