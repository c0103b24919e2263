/* Top-level windows: the frame, the title bar with its buttons, and the
   client area's background. The window keeps its system metrics, so its
   client area and layout stay exactly where the program put them. */
#include "Skin.h"

enum { kMaxCaptionButtons = 3, kIconSize = 16 };

typedef struct FrameParts {
    int width, height;
    RECT client;  /* all in window coordinates */
    RECT caption;
    RECT icon;    /* empty when the title bar shows none */
    RECT buttons[kMaxCaptionButtons];
    int codes[kMaxCaptionButtons];  /* HTCLOSE, HTMAXBUTTON, HTMINBUTTON */
    int count;
} FrameParts;

static HICON CaptionIcon(HWND hwnd) {
    HICON icon = (HICON)SendMessageW(hwnd, WM_GETICON, ICON_SMALL, 0);
    if (!icon) icon = (HICON)GetClassLongPtrW(hwnd, GCLP_HICONSM);
    if (!icon) icon = (HICON)SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0);
    if (!icon) icon = (HICON)GetClassLongPtrW(hwnd, GCLP_HICON);
    return icon;
}

static void MeasureFrame(HWND hwnd, FrameParts* p) {
    RECT window, client;
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    p->width = window.right - window.left;
    p->height = window.bottom - window.top;
    OffsetRect(&client, origin.x - window.left, origin.y - window.top);
    p->client = client;

    const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    const LONG exStyle = GetWindowLongW(hwnd, GWL_EXSTYLE);
    const int border = client.left > 0 ? client.left : 0;
    SetRect(&p->caption, border, border, p->width - border, client.top);
    if (p->caption.bottom - p->caption.top < 8) SetRectEmpty(&p->caption);
    SetRectEmpty(&p->icon);
    p->count = 0;
    if (IsRectEmpty(&p->caption) || !(style & WS_SYSMENU)) return;

    const int height = p->caption.bottom - p->caption.top;
    const int size = height - 4;
    int right = p->caption.right - 2;
    const int codes[kMaxCaptionButtons] = {HTCLOSE, HTMAXBUTTON, HTMINBUTTON};
    const LONG needs[kMaxCaptionButtons] = {WS_SYSMENU, WS_MAXIMIZEBOX, WS_MINIMIZEBOX};
    for (int i = 0; i < kMaxCaptionButtons; ++i) {
        if (!(style & needs[i])) continue;
        SetRect(&p->buttons[p->count], right - size - 4, p->caption.top + 2, right, p->caption.top + 2 + size);
        p->codes[p->count++] = codes[i];
        right -= size + 6;
    }
    if (!(exStyle & WS_EX_DLGMODALFRAME) && CaptionIcon(hwnd)) {
        const int top = p->caption.top + (height - kIconSize) / 2;
        SetRect(&p->icon, p->caption.left + 4, top, p->caption.left + 4 + kIconSize, top + kIconSize);
    }
}

static BOOL CaptionButtonEnabled(HWND hwnd, int code) {
    if (!IsWindowEnabled(hwnd)) return FALSE;
    if (code != HTCLOSE) return TRUE;
    /* A message box without a way to cancel greys its close item. */
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    const UINT state = menu ? GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) : 0;
    return state == (UINT)-1 || !(state & (MF_GRAYED | MF_DISABLED));
}

static void DrawGlyph(HDC dc, HWND hwnd, int code, const RECT* rc, COLORREF colour) {
    const int w = rc->right - rc->left, h = rc->bottom - rc->top;
    const int side = (w < h ? w : h) * 2 / 5;
    const int cx = rc->left + w / 2, cy = rc->top + h / 2;
    const int l = cx - side / 2, t = cy - side / 2, r = l + side, b = t + side;
    if (code == HTCLOSE) {
        DrawLine(dc, l, t, r + 1, b + 1, 2, colour);
        DrawLine(dc, l, b, r + 1, t - 1, 2, colour);
    } else if (code == HTMINBUTTON) {
        const RECT bar = {l, b - 1, r + 1, b + 1};
        FillSolid(dc, &bar, colour);
    } else {
        HBRUSH pen = CreateSolidBrush(colour);
        if (IsZoomed(hwnd)) {
            const RECT back = {l + 3, t, r + 1, b - 2};
            const RECT front = {l, t + 3, r - 2, b + 1};
            FrameRect(dc, &back, pen);
            FillSolid(dc, &front, SkinColour(SkinCaptionButtonPressed));
            FrameRect(dc, &front, pen);
        } else {
            const RECT box = {l, t, r + 1, b + 1};
            const RECT lid = {l, t, r + 1, t + 2};
            FrameRect(dc, &box, pen);
            FillSolid(dc, &lid, colour);
        }
        if (pen) DeleteObject(pen);
    }
}

static void DrawTitleBar(HDC dc, HWND hwnd, const SkinWindow* skin, const FrameParts* p) {
    const BOOL active = skin->active;
    FillVertical(dc, &p->caption, SkinColour(active ? SkinCaptionTop : SkinCaptionInactiveTop),
                 SkinColour(active ? SkinCaptionBottom : SkinCaptionInactiveBottom));
    const RECT accent = {p->caption.left, p->caption.bottom - 1, p->caption.right, p->caption.bottom};
    FillSolid(dc, &accent, SkinColour(active ? SkinCaptionAccent : SkinFrameInner));

    RECT text = p->caption;
    text.left += 6;
    if (!IsRectEmpty(&p->icon)) {
        DrawIconEx(dc, p->icon.left, p->icon.top, CaptionIcon(hwnd), kIconSize, kIconSize, 0, NULL, DI_NORMAL);
        text.left = p->icon.right + 5;
    }
    if (p->count > 0) text.right = p->buttons[p->count - 1].left - 4;

    for (int i = 0; i < p->count; ++i) {
        const int code = p->codes[i];
        const BOOL enabled = CaptionButtonEnabled(hwnd, code);
        const BOOL pressed = enabled && skin->captionPressed == code && skin->pressedInside;
        const BOOL hover = enabled && !pressed && skin->captionHover == code && !skin->captionPressed;
        if (pressed) FillSolid(dc, &p->buttons[i], SkinColour(SkinCaptionButtonPressed));
        else if (hover)
            FillSolid(dc, &p->buttons[i], SkinColour(code == HTCLOSE ? SkinCaptionCloseHover : SkinCaptionButtonHover));
        DrawGlyph(dc, hwnd, code, &p->buttons[i],
                  SkinColour(enabled ? SkinCaptionGlyph : SkinCaptionGlyphDisabled));
    }

    WCHAR title[256];
    const int length = WindowText(hwnd, title, 256);
    HGDIOBJ oldFont = SelectObject(dc, CaptionFont());
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, SkinColour(active ? SkinCaptionText : SkinCaptionTextInactive));
    DrawTextW(dc, title, length, &text, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
    SelectObject(dc, oldFont);
}

void PaintFrame(HWND hwnd, SkinWindow* skin) {
    if (IsIconic(hwnd) || !(GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE)) return;
    FrameParts p;
    MeasureFrame(hwnd, &p);
    HDC dc = GetWindowDC(hwnd);
    if (!dc) return;
    ExcludeClipRect(dc, p.client.left, p.client.top, p.client.right, p.client.bottom);

    const int top = IsRectEmpty(&p.caption) ? p.client.top : p.caption.top;
    const RECT strips[4] = {
        {0, 0, p.width, top},
        {0, top, p.client.left, p.height},
        {p.client.right, top, p.width, p.height},
        {p.client.left, p.client.bottom, p.client.right, p.height},
    };
    for (int i = 0; i < 4; ++i) FillSolid(dc, &strips[i], SkinColour(SkinFrameInner));
    const RECT outline = {0, 0, p.width, p.height};
    FrameRect(dc, &outline, SkinBrush(SkinFrameOuter));

    if (!IsRectEmpty(&p.caption)) {
        Buffer buffer;
        HDC target = BeginBuffer(&buffer, dc, &p.caption);
        DrawTitleBar(target, hwnd, skin, &p);
        EndBuffer(&buffer);
    }
    ReleaseDC(hwnd, dc);
}

/* The caption part under a screen point, or 0 outside the title bar. */
static int CaptionHitTest(HWND hwnd, LPARAM lp) {
    FrameParts p;
    MeasureFrame(hwnd, &p);
    RECT window;
    GetWindowRect(hwnd, &window);
    const POINT pt = {(short)LOWORD(lp) - window.left, (short)HIWORD(lp) - window.top};
    for (int i = 0; i < p.count; ++i)
        if (PtInRect(&p.buttons[i], pt)) return p.codes[i];
    if (PtInRect(&p.icon, pt)) return HTSYSMENU;
    if (PtInRect(&p.caption, pt)) return HTCAPTION;
    return 0;
}

static BOOL IsCaptionButton(WPARAM code) {
    return code == HTCLOSE || code == HTMINBUTTON || code == HTMAXBUTTON;
}

static WPARAM CommandFor(HWND hwnd, int code) {
    if (code == HTCLOSE) return SC_CLOSE;
    if (code == HTMINBUTTON) return SC_MINIMIZE;
    return IsZoomed(hwnd) ? SC_RESTORE : SC_MAXIMIZE;
}

/* A point in client coordinates, as the captured mouse reports it. */
static int CaptionHitFromClient(HWND hwnd, LPARAM lp) {
    POINT pt = {(short)LOWORD(lp), (short)HIWORD(lp)};
    ClientToScreen(hwnd, &pt);
    return CaptionHitTest(hwnd, MAKELPARAM(pt.x, pt.y));
}

static BOOL PaintsClientBackground(HWND hwnd) {
    const HBRUSH brush = (HBRUSH)GetClassLongPtrW(hwnd, GCLP_HBRBACKGROUND);
    return !brush || brush == (HBRUSH)(COLOR_BTNFACE + 1) || brush == GetSysColorBrush(COLOR_BTNFACE);
}

LRESULT FrameMessage(SkinWindow* skin, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_NCPAINT:
            if (IsIconic(hwnd)) break;
            PaintFrame(hwnd, skin);
            return 0;
        case WM_NCACTIVATE: {
            skin->active = wp != 0;
            /* -1 keeps the system from drawing its own title bar over ours. */
            const LRESULT result = CallOriginal(skin, hwnd, msg, wp, (LPARAM)-1);
            PaintFrame(hwnd, skin);
            return result;
        }
        case WM_SETTEXT:
        case WM_SETICON:
        case WM_ENABLE:
        case WM_STYLECHANGED: {
            /* The system draws the title bar straight away for these. */
            const LRESULT result = CallOriginal(skin, hwnd, msg, wp, lp);
            PaintFrame(hwnd, skin);
            return result;
        }
        case WM_NCHITTEST: {
            const int hit = CaptionHitTest(hwnd, lp);
            if (hit) return hit;
            break;
        }
        case WM_NCMOUSEMOVE: {
            const int hover = IsCaptionButton(wp) ? (int)wp : 0;
            if (hover != skin->captionHover) {
                skin->captionHover = hover;
                PaintFrame(hwnd, skin);
            }
            TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE | TME_NONCLIENT, hwnd, 0};
            TrackMouseEvent(&track);
            break;
        }
        case WM_NCMOUSELEAVE:
            if (skin->captionHover) {
                skin->captionHover = 0;
                PaintFrame(hwnd, skin);
            }
            break;
        case WM_NCLBUTTONDOWN:
        case WM_NCLBUTTONDBLCLK:
            if (IsCaptionButton(wp)) {
                /* Ours to track: the system's tracking would draw its own button. */
                if (CaptionButtonEnabled(hwnd, (int)wp)) {
                    skin->captionPressed = (int)wp;
                    skin->pressedInside = TRUE;
                    SetCapture(hwnd);
                    PaintFrame(hwnd, skin);
                }
                return 0;
            }
            if (wp == HTSYSMENU) {
                const LRESULT result = CallOriginal(skin, hwnd, msg, wp, lp);
                PaintFrame(hwnd, skin);
                return result;
            }
            break;
        case WM_MOUSEMOVE:
            if (skin->captionPressed) {
                const BOOL inside = CaptionHitFromClient(hwnd, lp) == skin->captionPressed;
                if (inside != skin->pressedInside) {
                    skin->pressedInside = inside;
                    PaintFrame(hwnd, skin);
                }
                return 0;
            }
            break;
        case WM_LBUTTONUP:
            if (skin->captionPressed) {
                const int code = skin->captionPressed;
                const BOOL inside = CaptionHitFromClient(hwnd, lp) == code;
                ReleaseCapture();  /* clears the pressed state */
                if (inside) {
                    POINT pt = {(short)LOWORD(lp), (short)HIWORD(lp)};
                    ClientToScreen(hwnd, &pt);
                    SendMessageW(hwnd, WM_SYSCOMMAND, CommandFor(hwnd, code), MAKELPARAM(pt.x, pt.y));
                }
                return 0;
            }
            break;
        case WM_CAPTURECHANGED:
            if (skin->captionPressed) {
                skin->captionPressed = 0;
                skin->pressedInside = FALSE;
                PaintFrame(hwnd, skin);
            }
            break;
        case WM_ERASEBKGND:
            if (PaintsClientBackground(hwnd)) {
                RECT rc;
                GetClientRect(hwnd, &rc);
                FillRect((HDC)wp, &rc, SkinBrush(SkinClient));
                return 1;
            }
            break;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
            return (LRESULT)SkinBackground((HBRUSH)CallOriginal(skin, hwnd, msg, wp, lp), (HDC)wp);
    }
    return CallOriginal(skin, hwnd, msg, wp, lp);
}
