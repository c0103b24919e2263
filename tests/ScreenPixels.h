// Counts what the screen shows inside a rectangle, one pixel at a time.
#pragma once

#include <windows.h>

#include <functional>

// How many pixels of the screen inside rc pass match.
int ScreenPixels(const RECT& rc, const std::function<bool(COLORREF)>& match);
