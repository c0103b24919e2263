#include "runtime/Resources.h"

#include <windows.h>

#include "runtime/Encoding.h"

ByteSpan ResourceBytes(const char* name) {
    HMODULE module = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(module, GbkToWide(name).c_str(), MAKEINTRESOURCEW(10));  // RT_RCDATA
    if (!info) return ByteSpan();
    HGLOBAL loaded = LoadResource(module, info);
    // Resource memory stays mapped as long as the module: nothing to free.
    const void* data = loaded ? LockResource(loaded) : nullptr;
    return data ? ByteSpan(data, SizeofResource(module, info)) : ByteSpan();
}
