// Colour checks shared by the skin's tests.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "SkinFormat.h"

inline bool Near(COLORREF a, COLORREF b, int tolerance = 3) {
    return std::abs(int(GetRValue(a)) - int(GetRValue(b))) <= tolerance &&
           std::abs(int(GetGValue(a)) - int(GetGValue(b))) <= tolerance &&
           std::abs(int(GetBValue(a)) - int(GetBValue(b))) <= tolerance;
}

// Is c on the way from one colour to the other, as a row of a gradient is?
inline bool Between(COLORREF c, COLORREF from, COLORREF to) {
    auto inside = [](int v, int a, int b) { return v >= std::min(a, b) - 2 && v <= std::max(a, b) + 2; };
    return inside(GetRValue(c), GetRValue(from), GetRValue(to)) && inside(GetGValue(c), GetGValue(from), GetGValue(to)) &&
           inside(GetBValue(c), GetBValue(from), GetBValue(to));
}

// A colour slot of a skin file.
inline COLORREF Slot(const std::vector<std::uint8_t>& skin, int slot) {
    const std::uint8_t* c = skin.data() + SKIN_HEADER_BYTES + 4 * slot;
    return RGB(c[0], c[1], c[2]);
}

// The screen row through the middle of a window's title bar.
inline int CaptionRow(HWND hwnd) {
    RECT window;
    GetWindowRect(hwnd, &window);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    return (window.top + origin.y) / 2 + 1;
}
