/* A DLL for the in-memory loader's tests: no C runtime, global data that
   needs relocating, an import from KERNEL32, and exports to call. */
#include <windows.h>

static int g_value = 5;
static int g_attaches = 0;
static HINSTANCE g_handle = (HINSTANCE)1;

__declspec(dllexport) int __stdcall Add(int a, int b) { return a + b; }
__declspec(dllexport) int* __stdcall ValueAddress(void) { return &g_value; }
__declspec(dllexport) int __stdcall Attaches(void) { return g_attaches; }
__declspec(dllexport) int __stdcall HandleWasZero(void) { return g_handle == 0; }
__declspec(dllexport) DWORD __stdcall CurrentProcessId(void) { return GetCurrentProcessId(); }

#ifdef SKIN_RECORDER
/* Stands in for the skin library: keeps what the attach was called with. */
static int g_recorded[10];
static int g_calls = 0;
__declspec(dllexport) int __stdcall Skin_AttachMemory(int a1, int a2, int a3, int a4, int a5, int a6, int a7,
                                                      int a8, int a9, int a10) {
    const int args[10] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10};
    for (int i = 0; i < 10; ++i) g_recorded[i] = args[i];
    return 700 + ++g_calls;
}
__declspec(dllexport) int __stdcall Recorded(int i) { return g_recorded[i]; }
#endif

BOOL WINAPI DllMain(HINSTANCE handle, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        ++g_attaches;
        g_handle = handle;
#ifdef REFUSE_ATTACH
        return FALSE;
#endif
    }
    return TRUE;
}
