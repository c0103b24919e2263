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
