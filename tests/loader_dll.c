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
/* A frame of the mapped code between the caller and a function of its own:
   an exception thrown there must unwind through this one. */
__declspec(dllexport) int __stdcall CallThrough(int(__stdcall* function)(int), int value) {
    volatile int kept = value;
    return function(value) + kept;
}

#ifdef SKIN_RECORDER
/* Stands in for the skin library: keeps what the attach was called with
   (arguments as wide as a pointer, as the program passes them). */
static INT_PTR g_recorded[10];
static int g_calls = 0;
__declspec(dllexport) int __stdcall Skin_AttachMemory(INT_PTR a1, INT_PTR a2, INT_PTR a3, INT_PTR a4, INT_PTR a5,
                                                      INT_PTR a6, INT_PTR a7, INT_PTR a8, INT_PTR a9, INT_PTR a10) {
    const INT_PTR args[10] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10};
    for (int i = 0; i < 10; ++i) g_recorded[i] = args[i];
    return 700 + ++g_calls;
}
__declspec(dllexport) INT_PTR __stdcall Recorded(int i) { return g_recorded[i]; }
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
