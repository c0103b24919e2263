// Counts what the screen shows inside a rectangle, one pixel at a time.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

// How many pixels of the screen inside rc pass match.
int ScreenPixels(const RECT& rc, const std::function<bool(COLORREF)>& match);

// The screen's pixels inside rc, top row first, in one read of the screen
// (GetPixel per pixel is far too slow for a whole picture).
std::vector<COLORREF> ScreenCapture(const RECT& rc);
