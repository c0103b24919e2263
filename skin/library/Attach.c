/* The library's entry and its one export: the skin is read, and from then on
   the windows of the attaching thread are skinned, those already there and
   those created later (through a creation hook on that thread). */
#include "Skin.h"

static const WCHAR kWindowProperty[] = L"Skin_Window";
static HHOOK g_hook;

static SkinWindow* SkinnedWindow(HWND hwnd) { return (SkinWindow*)GetPropW(hwnd, kWindowProperty); }

LRESULT CallOriginal(SkinWindow* skin, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return CallWindowProcW(skin->original, hwnd, msg, wp, lp);
}

static BOOL ClassIs(HWND hwnd, const WCHAR* name) {
    WCHAR klass[64];
    return GetClassNameW(hwnd, klass, 64) > 0 && lstrcmpiW(klass, name) == 0;
}

static LRESULT CALLBACK SkinProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

static SkinWindow* Subclass(HWND hwnd, int kind) {
    if (SkinnedWindow(hwnd) || !IsWindowUnicode(hwnd)) return NULL;
    SkinWindow* skin = (SkinWindow*)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof *skin);
    if (!skin) return NULL;
    skin->kind = kind;
    skin->active = GetActiveWindow() == hwnd;
    if (!SetPropW(hwnd, kWindowProperty, skin)) {
        HeapFree(GetProcessHeap(), 0, skin);
        return NULL;
    }
    skin->original = (WNDPROC)SetWindowLongPtrW(hwnd, GWLP_WNDPROC, (LONG_PTR)SkinProc);
    if (!skin->original) {
        RemovePropW(hwnd, kWindowProperty);
        HeapFree(GetProcessHeap(), 0, skin);
        return NULL;
    }
    return skin;
}

static void Unsubclass(HWND hwnd, SkinWindow* skin) {
    /* Someone who subclassed after us keeps their procedure. */
    if ((WNDPROC)GetWindowLongPtrW(hwnd, GWLP_WNDPROC) == SkinProc)
        SetWindowLongPtrW(hwnd, GWLP_WNDPROC, (LONG_PTR)skin->original);
    RemovePropW(hwnd, kWindowProperty);
    HeapFree(GetProcessHeap(), 0, skin);
}

/* Without this the desktop compositor draws its own frame over ours. */
static void KeepFrameOurs(HWND hwnd) {
    typedef HRESULT(WINAPI * SetAttribute)(HWND, DWORD, LPCVOID, DWORD);
    static SetAttribute setAttribute;
    static BOOL looked;
    if (!looked) {
        looked = TRUE;
        HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
        if (dwm) setAttribute = (SetAttribute)(void*)GetProcAddress(dwm, "DwmSetWindowAttribute");
    }
    const DWORD disabled = 1; /* DWMNCRP_DISABLED */
    if (setAttribute) setAttribute(hwnd, 2 /* DWMWA_NCRENDERING_POLICY */, &disabled, sizeof disabled);
}

static BOOL WantsFrame(DWORD style, DWORD exStyle, BOOL hasMenu) {
    return !(style & WS_CHILD) && (style & WS_CAPTION) == WS_CAPTION && !hasMenu &&
           !(exStyle & (WS_EX_TOOLWINDOW | WS_EX_MDICHILD));
}

static void SkinControl(HWND hwnd, DWORD style) {
    if (!ClassIs(hwnd, L"Button")) return;
    const int kind = ControlKindForStyle(style);
    if (kind != KindNone) Subclass(hwnd, kind);
}

static BOOL CALLBACK SkinChild(HWND hwnd, LPARAM lp) {
    (void)lp;
    SkinControl(hwnd, (DWORD)GetWindowLongW(hwnd, GWL_STYLE));
    return TRUE;
}

/* A message box holds nothing but its buttons, its icon and its text; any
   other dialog (the folder browser, say) is left as the system draws it. */
static BOOL CALLBACK CheckMessageBoxChild(HWND hwnd, LPARAM lp) {
    int* counts = (int*)lp;
    if (ClassIs(hwnd, L"Button")) ++counts[0];
    else if (ClassIs(hwnd, L"Static")) ++counts[1];
    else ++counts[2];
    return TRUE;
}

static BOOL IsMessageBox(HWND hwnd) {
    int counts[3] = {0, 0, 0};
    EnumChildWindows(hwnd, CheckMessageBoxChild, (LPARAM)counts);
    return counts[0] > 0 && counts[1] > 0 && counts[2] == 0;
}

static void BecomeFrame(HWND hwnd, SkinWindow* skin) {
    skin->kind = KindFrame;
    KeepFrameOurs(hwnd);
    EnumChildWindows(hwnd, SkinChild, 0);
    RedrawWindow(hwnd, NULL, NULL, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

static LRESULT CALLBACK SkinProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    SkinWindow* skin = SkinnedWindow(hwnd);
    if (!skin) return DefWindowProcW(hwnd, msg, wp, lp);
    if (msg == WM_NCDESTROY) {
        const WNDPROC original = skin->original;
        Unsubclass(hwnd, skin);
        return CallWindowProcW(original, hwnd, msg, wp, lp);
    }
    /* Tracked from creation on: a dialog may be activated before it is known
       to be a message box. */
    if (msg == WM_NCACTIVATE) skin->active = wp != 0;
    switch (skin->kind) {
        case KindFrame: return FrameMessage(skin, hwnd, msg, wp, lp);
        case KindButton:
        case KindGroup: return ControlMessage(skin, hwnd, msg, wp, lp);
        case KindDialog:
            if (msg == WM_INITDIALOG) {
                /* The children exist now; the box lays them out in its own handler. */
                const LRESULT result = CallOriginal(skin, hwnd, msg, wp, lp);
                if (IsWindow(hwnd) && SkinnedWindow(hwnd) == skin) {
                    if (IsMessageBox(hwnd)) BecomeFrame(hwnd, skin);
                    else skin->kind = KindNone;
                }
                return result;
            }
            break;
    }
    return CallOriginal(skin, hwnd, msg, wp, lp);
}

static BOOL IsSkinnedFrame(HWND hwnd) {
    const SkinWindow* skin = hwnd ? SkinnedWindow(hwnd) : NULL;
    return skin && skin->kind == KindFrame;
}

static void SkinNewWindow(HWND hwnd, const CREATESTRUCTW* create) {
    if (create->style & WS_CHILD) {
        if (create->hwndParent && IsSkinnedFrame(GetAncestor(create->hwndParent, GA_ROOT)))
            SkinControl(hwnd, create->style);
        return;
    }
    if (!WantsFrame(create->style, create->dwExStyle, create->hMenu != NULL)) return;
    if (ClassIs(hwnd, L"#32770")) {
        Subclass(hwnd, KindDialog);
    } else if (Subclass(hwnd, KindFrame)) {
        KeepFrameOurs(hwnd);
    }
}

static LRESULT CALLBACK CreationHook(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_CREATEWND) SkinNewWindow((HWND)wp, ((const CBT_CREATEWNDW*)lp)->lpcs);
    return CallNextHookEx(g_hook, code, wp, lp);
}

static BOOL CALLBACK SkinExistingWindow(HWND hwnd, LPARAM lp) {
    (void)lp;
    SkinWindow* skin = SkinnedWindow(hwnd);
    if (skin) {
        /* Attached again: the new look is painted. */
        if (skin->kind == KindFrame)
            RedrawWindow(hwnd, NULL, NULL, RDW_FRAME | RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
        return TRUE;
    }
    const DWORD style = (DWORD)GetWindowLongW(hwnd, GWL_STYLE);
    const DWORD exStyle = (DWORD)GetWindowLongW(hwnd, GWL_EXSTYLE);
    if (!WantsFrame(style, exStyle, GetMenu(hwnd) != NULL)) return TRUE;
    if (ClassIs(hwnd, L"#32770") && !IsMessageBox(hwnd)) return TRUE;
    skin = Subclass(hwnd, KindFrame);
    if (skin) BecomeFrame(hwnd, skin);
    return TRUE;
}

/* The skin in memory: (address, byte count); any further arguments are
   ignored. Returns 1 when the skin was taken, 0 when it is not a skin of
   ours, in which case nothing changes. */
__declspec(dllexport) int WINAPI Skin_AttachMemory(const void* skin, DWORD size) {
    SkinLook look;
    if (!ReadSkin((const BYTE*)skin, size, &look)) return 0;
    UseLook(&look);
    if (!g_hook) g_hook = SetWindowsHookExW(WH_CBT, CreationHook, NULL, GetCurrentThreadId());
    EnumThreadWindows(GetCurrentThreadId(), SkinExistingWindow, 0);
    return 1;
}

/* The loader gives no module handle, and nothing here needs one. */
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved) {
    (void)module;
    (void)reason;
    (void)reserved;
    return TRUE;
}
