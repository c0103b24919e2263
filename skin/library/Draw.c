/* Small drawing helpers for the skin's painters. */
#include "Skin.h"

void FillSolid(HDC dc, const RECT* rc, COLORREF colour) {
    /* An opaque empty text fills a rectangle without making a brush. */
    const COLORREF old = SetBkColor(dc, colour);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, rc, NULL, 0, NULL);
    SetBkColor(dc, old);
}

COLORREF MixColours(COLORREF a, COLORREF b, int part, int whole) {
    if (whole <= 0) return a;
    return RGB(GetRValue(a) + MulDiv((int)GetRValue(b) - (int)GetRValue(a), part, whole),
               GetGValue(a) + MulDiv((int)GetGValue(b) - (int)GetGValue(a), part, whole),
               GetBValue(a) + MulDiv((int)GetBValue(b) - (int)GetBValue(a), part, whole));
}

void FillVertical(HDC dc, const RECT* rc, COLORREF top, COLORREF bottom) {
    const int height = rc->bottom - rc->top;
    for (int y = 0; y < height; ++y) {
        const RECT line = {rc->left, rc->top + y, rc->right, rc->top + y + 1};
        FillSolid(dc, &line, MixColours(top, bottom, y, height - 1));
    }
}

void FrameRounded(HDC dc, const RECT* rc, COLORREF colour) {
    if (rc->right - rc->left < 3 || rc->bottom - rc->top < 3) return;
    const RECT top = {rc->left + 1, rc->top, rc->right - 1, rc->top + 1};
    const RECT bottom = {rc->left + 1, rc->bottom - 1, rc->right - 1, rc->bottom};
    const RECT left = {rc->left, rc->top + 1, rc->left + 1, rc->bottom - 1};
    const RECT right = {rc->right - 1, rc->top + 1, rc->right, rc->bottom - 1};
    FillSolid(dc, &top, colour);
    FillSolid(dc, &bottom, colour);
    FillSolid(dc, &left, colour);
    FillSolid(dc, &right, colour);
}

void DrawLine(HDC dc, int x1, int y1, int x2, int y2, int width, COLORREF colour) {
    HPEN pen = CreatePen(PS_SOLID, width, colour);
    if (!pen) return;
    HGDIOBJ old = SelectObject(dc, pen);
    MoveToEx(dc, x1, y1, NULL);
    LineTo(dc, x2, y2);
    SelectObject(dc, old);
    DeleteObject(pen);
}

HDC BeginBuffer(Buffer* buffer, HDC target, const RECT* rc) {
    buffer->target = target;
    buffer->rc = *rc;
    buffer->dc = NULL;
    buffer->bitmap = NULL;
    const int width = rc->right - rc->left, height = rc->bottom - rc->top;
    if (width <= 0 || height <= 0) return target;
    HDC dc = CreateCompatibleDC(target);
    HBITMAP bitmap = dc ? CreateCompatibleBitmap(target, width, height) : NULL;
    if (!bitmap) {
        if (dc) DeleteDC(dc);
        return target;
    }
    buffer->dc = dc;
    buffer->bitmap = bitmap;
    buffer->oldBitmap = SelectObject(dc, bitmap);
    SetViewportOrgEx(dc, -rc->left, -rc->top, NULL);
    return dc;
}

void EndBuffer(Buffer* buffer) {
    if (!buffer->dc) return;
    SetViewportOrgEx(buffer->dc, 0, 0, NULL);
    BitBlt(buffer->target, buffer->rc.left, buffer->rc.top, buffer->rc.right - buffer->rc.left,
           buffer->rc.bottom - buffer->rc.top, buffer->dc, 0, 0, SRCCOPY);
    SelectObject(buffer->dc, buffer->oldBitmap);
    DeleteObject(buffer->bitmap);
    DeleteDC(buffer->dc);
    buffer->dc = NULL;
}

int WindowText(HWND hwnd, WCHAR* text, int capacity) {
    text[0] = 0;
    const int n = GetWindowTextW(hwnd, text, capacity);
    return n < 0 ? 0 : n;
}

UINT PrefixFlags(HWND hwnd) {
    return (SendMessageW(hwnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL) ? DT_HIDEPREFIX : 0;
}

BOOL ShowsFocusCues(HWND hwnd) {
    return (SendMessageW(hwnd, WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS) == 0;
}
