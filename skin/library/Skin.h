/* What the parts of the skin library share. The library runs without a C
   runtime and without a module handle: everything here is plain Win32. */
#ifndef VELMORA_SKIN_H
#define VELMORA_SKIN_H

#include <windows.h>

#include "SkinFormat.h"

/* ---- the look (Look.c) ---- */

typedef struct SkinLook {
    COLORREF colours[SkinColourCount];
    int fontHeight;
    int fontWeight;
    int fontCharset;
    WCHAR face[SKIN_MAX_FACE + 1];
} SkinLook;

/* False, leaving *look alone in part, when the bytes are not a whole skin. */
BOOL ReadSkin(const BYTE* data, DWORD size, SkinLook* look);
/* Makes the look current; brushes and the font of the old one are deleted. */
void UseLook(const SkinLook* look);
COLORREF SkinColour(int slot);
HBRUSH SkinBrush(int slot);
HFONT CaptionFont(void);

/* A control's background as the parent answers it: the system's face brush
   (what a parent answers when it sets no colour of its own) becomes the
   skin's client brush; any other brush is the program's and is kept. */
HBRUSH SkinBackground(HBRUSH given, HDC dc);
HBRUSH ControlBackground(HWND control, HDC dc, UINT colourMessage, COLORREF* textColour);

/* ---- drawing (Draw.c) ---- */

void FillSolid(HDC dc, const RECT* rc, COLORREF colour);
void FillVertical(HDC dc, const RECT* rc, COLORREF top, COLORREF bottom);
/* A one-pixel frame with its four corner pixels left out. */
void FrameRounded(HDC dc, const RECT* rc, COLORREF colour);
void DrawLine(HDC dc, int x1, int y1, int x2, int y2, int width, COLORREF colour);
COLORREF MixColours(COLORREF a, COLORREF b, int part, int whole);

/* Drawing off screen: BeginBuffer returns the DC to draw into, in the
   target's coordinates (the target itself when no memory is to be had);
   EndBuffer copies the result over. */
typedef struct Buffer {
    HDC target;
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ oldBitmap;
    RECT rc;
} Buffer;
HDC BeginBuffer(Buffer* buffer, HDC target, const RECT* rc);
void EndBuffer(Buffer* buffer);

/* Window text into a fixed buffer, cut if longer. */
int WindowText(HWND hwnd, WCHAR* text, int capacity);
/* DrawText flags for the keyboard cues the window shows just now. */
UINT PrefixFlags(HWND hwnd);
BOOL ShowsFocusCues(HWND hwnd);

/* ---- skinned windows (Attach.c) ---- */

enum SkinKind {
    KindNone,    /* looked at and left alone */
    KindDialog,  /* a dialog not yet initialised: a message box or not? */
    KindFrame,   /* a top-level window: frame, title bar and client area */
    KindButton,  /* push buttons and check boxes */
    KindGroup,   /* group boxes */
};

typedef struct SkinWindow {
    WNDPROC original;
    int kind;
    BOOL hover;      /* controls: the mouse is over it */
    BOOL active;     /* frames: drawn as the active window */
    int captionHover;    /* frames: hit-test code of the caption button under the mouse */
    int captionPressed;  /* frames: hit-test code of the caption button held down */
    BOOL pressedInside;  /* frames: the mouse is still on the held button */
} SkinWindow;

LRESULT CallOriginal(SkinWindow* skin, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

/* ---- frames (Frame.c) and controls (Controls.c) ---- */

void PaintFrame(HWND hwnd, SkinWindow* skin);
LRESULT FrameMessage(SkinWindow* skin, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT ControlMessage(SkinWindow* skin, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
/* Which controls of the BUTTON class are skinned, by their style. */
int ControlKindForStyle(DWORD style);

#endif
