// Puts one catalogue entry into the game's Game folder.
#pragma once

#include "themes/Catalogue.h"

void InstallThemePack(const ThemePack& pack);
// At start-up: rolls back an install into the remembered game folder that a
// crash cut short, and removes its leftovers. Cheap when there is none.
void RecoverLastInstall();
// After the start-up notice: tells the player, once, which game file
// RecoverLastInstall could not put back yet (a file the game holds).
void ReportUnfinishedRecovery();
