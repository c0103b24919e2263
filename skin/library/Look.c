/* The skin's look: read from the skin file, kept with its GDI objects. */
#include "Skin.h"

static SkinLook g_look;
static HBRUSH g_brushes[SkinColourCount];
static HFONT g_captionFont;

static unsigned Read16(const BYTE* p) { return (unsigned)p[0] | ((unsigned)p[1] << 8); }

BOOL ReadSkin(const BYTE* data, DWORD size, SkinLook* look) {
    if (!data || size < SKIN_HEADER_BYTES) return FALSE;
    for (int i = 0; i < 4; ++i)
        if (data[i] != (BYTE)SKIN_SIGNATURE[i]) return FALSE;
    if (Read16(data + 4) != SKIN_VERSION) return FALSE;
    const DWORD colours = Read16(data + 6);
    if (colours < SkinColourCount) return FALSE;
    /* colours is at most 65535, so none of these sums can wrap. */
    const DWORD font = SKIN_HEADER_BYTES + 4 * colours;
    if (font > size || size - font < SKIN_FONT_BYTES) return FALSE;
    for (int i = 0; i < SkinColourCount; ++i) {
        const BYTE* c = data + SKIN_HEADER_BYTES + 4 * i;
        look->colours[i] = RGB(c[0], c[1], c[2]);
    }
    const BYTE* f = data + font;
    look->fontHeight = (short)Read16(f);
    look->fontWeight = (int)Read16(f + 2);
    look->fontCharset = f[4];
    const DWORD length = f[5];
    if (length == 0 || length > SKIN_MAX_FACE || size - font - SKIN_FONT_BYTES < 2 * length) return FALSE;
    for (DWORD i = 0; i < length; ++i) {
        look->face[i] = (WCHAR)Read16(f + SKIN_FONT_BYTES + 2 * i);
        if (look->face[i] == 0) return FALSE;
    }
    look->face[length] = 0;
    return TRUE;
}

void UseLook(const SkinLook* look) {
    g_look = *look;
    for (int i = 0; i < SkinColourCount; ++i) {
        if (g_brushes[i]) DeleteObject(g_brushes[i]);
        g_brushes[i] = NULL;
    }
    if (g_captionFont) DeleteObject(g_captionFont);
    g_captionFont = CreateFontW(look->fontHeight, 0, 0, 0, look->fontWeight, FALSE, FALSE, FALSE,
                                (BYTE)look->fontCharset, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, look->face);
}

COLORREF SkinColour(int slot) { return g_look.colours[slot]; }

HBRUSH SkinBrush(int slot) {
    if (!g_brushes[slot]) g_brushes[slot] = CreateSolidBrush(g_look.colours[slot]);
    return g_brushes[slot];
}

HFONT CaptionFont(void) {
    return g_captionFont ? g_captionFont : (HFONT)GetStockObject(DEFAULT_GUI_FONT);
}

HBRUSH SkinBackground(HBRUSH given, HDC dc) {
    /* Some parents answer with the colour index form of the class brush. */
    if (given && given != GetSysColorBrush(COLOR_BTNFACE) && given != (HBRUSH)(COLOR_BTNFACE + 1))
        return given;
    SetBkColor(dc, SkinColour(SkinClient));
    return SkinBrush(SkinClient);
}

HBRUSH ControlBackground(HWND control, HDC dc, UINT colourMessage, COLORREF* textColour) {
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    HWND parent = GetParent(control);
    HBRUSH given = parent ? (HBRUSH)SendMessageW(parent, colourMessage, (WPARAM)dc, (LPARAM)control) : NULL;
    *textColour = GetTextColor(dc);
    return SkinBackground(given, dc);
}
