// The theme catalogue: 43 HUD themes and the entry that restores the stock HUD.
#pragma once

#include <cstddef>

struct ThemePack {
    int order;
    const char* word;
    const char* checkBox;     // its check box on the main window
    const char* successText;  // shown after the install
    const char* archive;      // name of the embedded ZIP resource
};

constexpr std::size_t kThemePackCount = 44;
extern const ThemePack kCatalogue[kThemePackCount];
