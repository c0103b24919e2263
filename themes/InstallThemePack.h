// Puts one catalogue entry into the game's Game folder.
#pragma once

#include "themes/Catalogue.h"

void InstallThemePack(const ThemePack& pack);
