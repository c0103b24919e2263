#include "ScreenPixels.h"

int ScreenPixels(const RECT& rc, const std::function<bool(COLORREF)>& match) {
    HDC dc = GetDC(nullptr);
    int n = 0;
    for (LONG y = rc.top; y < rc.bottom; ++y)
        for (LONG x = rc.left; x < rc.right; ++x) n += match(GetPixel(dc, x, y));
    ReleaseDC(nullptr, dc);
    return n;
}

std::vector<COLORREF> ScreenCapture(const RECT& rc) {
    const int w = rc.right - rc.left, h = rc.bottom - rc.top;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, rc.left, rc.top, SRCCOPY);
    GdiFlush();
    std::vector<COLORREF> out;
    out.reserve(size_t(w) * h);
    const auto* p = static_cast<const unsigned char*>(bits);
    for (int i = 0; i < w * h; ++i) out.push_back(RGB(p[4 * i + 2], p[4 * i + 1], p[4 * i]));
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return out;
}
