/* Push buttons, check boxes and group boxes. Each is painted whole by the
   skin; its text, font and text colour are the ones the program gave it. */
#include "Skin.h"

enum { kCheckSize = 13, kTextCapacity = 512 };

int ControlKindForStyle(DWORD style) {
    if (style & (BS_BITMAP | BS_ICON)) return KindNone;
    switch (style & BS_TYPEMASK) {
        case BS_PUSHBUTTON:
        case BS_DEFPUSHBUTTON:
            return KindButton;
        case BS_CHECKBOX:
        case BS_AUTOCHECKBOX:
        case BS_3STATE:
        case BS_AUTO3STATE:
            return (style & BS_PUSHLIKE) ? KindNone : KindButton;
        case BS_GROUPBOX:
            return KindGroup;
    }
    return KindNone;
}

static BOOL IsCheckBox(DWORD style) {
    const DWORD type = style & BS_TYPEMASK;
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE;
}

/* Text inside rc, aligned as the button's style says; returns where it went. */
static RECT DrawButtonText(HDC dc, HWND hwnd, const RECT* rc, UINT defaultAlign) {
    WCHAR text[kTextCapacity];
    const int length = WindowText(hwnd, text, kTextCapacity);
    const DWORD style = (DWORD)GetWindowLongW(hwnd, GWL_STYLE);
    UINT align = defaultAlign;
    switch (style & (BS_LEFT | BS_RIGHT | BS_CENTER)) {
        case BS_LEFT: align = DT_LEFT; break;
        case BS_RIGHT: align = DT_RIGHT; break;
        case BS_CENTER: align = DT_CENTER; break;
    }
    const UINT flags = align | PrefixFlags(hwnd) | ((style & BS_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE);
    RECT measured = *rc;
    DrawTextW(dc, text, length, &measured, flags | DT_CALCRECT);
    /* DT_VCENTER works on single lines only: centre by the measured height. */
    RECT place = *rc;
    const int height = measured.bottom - measured.top;
    place.top = rc->top + (rc->bottom - rc->top - height) / 2;
    place.bottom = place.top + height;
    if (length > 0) DrawTextW(dc, text, length, &place, flags);
    const int width = measured.right - measured.left;
    if (align == DT_CENTER) place.left = rc->left + (rc->right - rc->left - width) / 2;
    else if (align == DT_RIGHT) place.left = rc->right - width;
    place.right = place.left + width;
    return place;
}

/* Starts painting a control off screen on the background its parent answers;
   the text colour the parent chose comes back in *text. */
static HDC BeginControl(HWND hwnd, HDC target, UINT colourMessage, Buffer* buffer, RECT* rc, COLORREF* text) {
    GetClientRect(hwnd, rc);
    HDC dc = BeginBuffer(buffer, target, rc);
    FillRect(dc, rc, ControlBackground(hwnd, dc, colourMessage, text));
    return dc;
}

static void PaintPushButton(HWND hwnd, SkinWindow* skin, HDC target) {
    RECT rc;
    Buffer buffer;
    COLORREF text;
    HDC dc = BeginControl(hwnd, target, WM_CTLCOLORBTN, &buffer, &rc, &text);

    const LRESULT state = SendMessageW(hwnd, BM_GETSTATE, 0, 0);
    const BOOL enabled = IsWindowEnabled(hwnd);
    const BOOL pressed = enabled && (state & BST_PUSHED);
    const BOOL hover = enabled && skin->hover;
    const BOOL isDefault = ((DWORD)GetWindowLongW(hwnd, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
    int top = SkinButtonTop, bottom = SkinButtonBottom;
    if (!enabled) top = bottom = SkinButtonDisabledFace;
    else if (pressed) top = SkinButtonPressedTop, bottom = SkinButtonPressedBottom;
    else if (hover) top = SkinButtonHoverTop, bottom = SkinButtonHoverBottom;

    RECT face = rc;
    InflateRect(&face, -1, -1);
    FillVertical(dc, &face, SkinColour(top), SkinColour(bottom));
    FrameRounded(dc, &rc, SkinColour(SkinButtonBorder));
    if (isDefault && enabled) FrameRect(dc, &face, SkinBrush(SkinButtonBorder));

    RECT label = rc;
    InflateRect(&label, -4, -2);
    if (pressed) OffsetRect(&label, 1, 1);
    HGDIOBJ oldFont = SelectObject(dc, (HFONT)SendMessageW(hwnd, WM_GETFONT, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, enabled ? text : SkinColour(SkinButtonDisabledText));
    DrawButtonText(dc, hwnd, &label, DT_CENTER);
    SelectObject(dc, oldFont);
    if (GetFocus() == hwnd && ShowsFocusCues(hwnd)) {
        RECT focus = rc;
        InflateRect(&focus, -3, -3);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, RGB(255, 255, 255));
        DrawFocusRect(dc, &focus);
    }
    EndBuffer(&buffer);
}

static void DrawCheckMark(HDC dc, const RECT* box, COLORREF colour) {
    const int l = box->left, t = box->top, r = box->right, b = box->bottom;
    const int w = r - l;
    DrawLine(dc, l + 2, t + w / 2, l + w / 2 - 1, b - 3, 2, colour);
    DrawLine(dc, l + w / 2 - 1, b - 3, r - 3, t + 2, 2, colour);
}

static void PaintCheckBox(HWND hwnd, SkinWindow* skin, HDC target) {
    RECT rc;
    Buffer buffer;
    COLORREF text;
    HDC dc = BeginControl(hwnd, target, WM_CTLCOLORSTATIC, &buffer, &rc, &text);

    const DWORD style = (DWORD)GetWindowLongW(hwnd, GWL_STYLE);
    const LRESULT state = SendMessageW(hwnd, BM_GETSTATE, 0, 0);
    const BOOL enabled = IsWindowEnabled(hwnd);
    const BOOL boxOnRight = (style & BS_RIGHTBUTTON) != 0;
    RECT box;
    box.top = (rc.top + rc.bottom - kCheckSize) / 2;
    box.bottom = box.top + kCheckSize;
    box.left = boxOnRight ? rc.right - kCheckSize : rc.left;
    box.right = box.left + kCheckSize;

    int face = SkinCheckFace;
    if (!enabled) face = SkinCheckDisabledFace;
    else if (state & BST_PUSHED) face = SkinCheckPressedFace;
    else if (skin->hover) face = SkinCheckHoverFace;
    FillSolid(dc, &box, SkinColour(SkinCheckBorder));
    RECT inner = box;
    InflateRect(&inner, -1, -1);
    FillSolid(dc, &inner, SkinColour(face));
    const COLORREF mark = SkinColour(enabled ? SkinCheckMark : SkinButtonDisabledText);
    if ((state & 3) == BST_CHECKED) {
        DrawCheckMark(dc, &inner, mark);
    } else if ((state & 3) == BST_INDETERMINATE) {
        RECT square = inner;
        InflateRect(&square, -2, -2);
        FillSolid(dc, &square, mark);
    }

    RECT label = rc;
    if (boxOnRight) label.right = box.left - 4;
    else label.left = box.right + 4;
    HGDIOBJ oldFont = SelectObject(dc, (HFONT)SendMessageW(hwnd, WM_GETFONT, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, enabled ? text : SkinColour(SkinButtonDisabledText));
    RECT drawn = DrawButtonText(dc, hwnd, &label, DT_LEFT);
    SelectObject(dc, oldFont);
    if (GetFocus() == hwnd && ShowsFocusCues(hwnd) && drawn.right > drawn.left) {
        InflateRect(&drawn, 1, 1);
        IntersectRect(&drawn, &drawn, &rc);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, RGB(255, 255, 255));
        DrawFocusRect(dc, &drawn);
    }
    EndBuffer(&buffer);
}

/* The group box leaves its inside alone, as the system's does: the parent's
   background shows through it and its children paint themselves. */
static void PaintGroupBox(HWND hwnd, HDC dc) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    COLORREF text;
    HBRUSH back = ControlBackground(hwnd, dc, WM_CTLCOLORSTATIC, &text);
    HGDIOBJ oldFont = SelectObject(dc, (HFONT)SendMessageW(hwnd, WM_GETFONT, 0, 0));
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    RECT frame = rc;
    frame.top += metrics.tmHeight / 2;
    FrameRounded(dc, &frame, SkinColour(SkinGroupLine));

    WCHAR caption[kTextCapacity];
    const int length = WindowText(hwnd, caption, kTextCapacity);
    if (length > 0) {
        RECT place = {rc.left + 8, rc.top, rc.right - 8, rc.top + metrics.tmHeight};
        const UINT flags = DT_LEFT | DT_SINGLELINE | DT_TOP | DT_END_ELLIPSIS | PrefixFlags(hwnd);
        DrawTextW(dc, caption, length, &place, flags | DT_CALCRECT);
        if (place.right > rc.right - 8) place.right = rc.right - 8;
        RECT under = place;
        InflateRect(&under, 2, 0);
        FillRect(dc, &under, back);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, IsWindowEnabled(hwnd) ? text : SkinColour(SkinButtonDisabledText));
        DrawTextW(dc, caption, length, &place, flags);
    }
    SelectObject(dc, oldFont);
}

static void PaintControl(HWND hwnd, SkinWindow* skin, HDC dc) {
    const DWORD style = (DWORD)GetWindowLongW(hwnd, GWL_STYLE);
    if (skin->kind == KindGroup) PaintGroupBox(hwnd, dc);
    else if (IsCheckBox(style)) PaintCheckBox(hwnd, skin, dc);
    else PaintPushButton(hwnd, skin, dc);
}

/* Repaints a control; a group box's old caption may reach past the new one,
   so its part of the parent is painted again as well. */
static void Repaint(HWND hwnd, const SkinWindow* skin) {
    if (skin->kind != KindGroup) {
        InvalidateRect(hwnd, NULL, FALSE);
        return;
    }
    HWND parent = GetParent(hwnd);
    RECT rc;
    GetWindowRect(hwnd, &rc);
    MapWindowPoints(NULL, parent, (POINT*)&rc, 2);
    RedrawWindow(parent, &rc, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

/* Runs a message with which the system's button draws itself at once, with
   drawing switched off, then lets the skin paint the new state. */
static LRESULT QuietCall(SkinWindow* skin, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const BOOL visible = (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
    if (visible) CallOriginal(skin, hwnd, WM_SETREDRAW, FALSE, 0);
    const LRESULT result = CallOriginal(skin, hwnd, msg, wp, lp);
    if (visible && IsWindow(hwnd)) {
        CallOriginal(skin, hwnd, WM_SETREDRAW, TRUE, 0);
        Repaint(hwnd, skin);
    }
    return result;
}

LRESULT ControlMessage(SkinWindow* skin, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            if (dc) PaintControl(hwnd, skin, dc);
            EndPaint(hwnd, &ps);
            return 0;
        }
        case WM_PRINTCLIENT:
            PaintControl(hwnd, skin, (HDC)wp);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_MOUSEMOVE:
            if (!skin->hover && skin->kind == KindButton) {
                TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, hwnd, 0};
                TrackMouseEvent(&track);
                skin->hover = TRUE;
                InvalidateRect(hwnd, NULL, FALSE);
            }
            break;
        case WM_MOUSELEAVE:
            if (skin->hover) {
                skin->hover = FALSE;
                InvalidateRect(hwnd, NULL, FALSE);
            }
            break;
        case BM_SETCHECK:
        case BM_SETSTATE:
        case BM_SETSTYLE:
        case WM_SETTEXT:
        case WM_SETFONT:
        case WM_ENABLE:
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_UPDATEUISTATE:
            return QuietCall(skin, hwnd, msg, wp, lp);
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_LBUTTONUP:
        case WM_KEYDOWN:
        case WM_KEYUP:
        case WM_CAPTURECHANGED: {
            /* These may run the program's click handler before they return;
               whatever the system drew meanwhile is painted over after. */
            const LRESULT result = CallOriginal(skin, hwnd, msg, wp, lp);
            if (IsWindow(hwnd)) InvalidateRect(hwnd, NULL, FALSE);
            return result;
        }
    }
    return CallOriginal(skin, hwnd, msg, wp, lp);
}
