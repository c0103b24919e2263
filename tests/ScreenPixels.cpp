#include "ScreenPixels.h"

int ScreenPixels(const RECT& rc, const std::function<bool(COLORREF)>& match) {
    HDC dc = GetDC(nullptr);
    int n = 0;
    for (LONG y = rc.top; y < rc.bottom; ++y)
        for (LONG x = rc.left; x < rc.right; ++x) n += match(GetPixel(dc, x, y));
    ReleaseDC(nullptr, dc);
    return n;
}
