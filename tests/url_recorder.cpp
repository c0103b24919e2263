// Stands in for the web browser: registered as the handler of http addresses
// in the test prefix, it appends the address it is given to a file.
#include <windows.h>

#include <cstdio>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 1;
    FILE* f = _wfopen(argv[1], L"a, ccs=UTF-8");
    if (!f) return 1;
    fwprintf(f, L"%ls\n", argv[2]);
    fclose(f);
    return 0;
}
