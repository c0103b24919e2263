#include "skin/SkinAttach.h"

#include "runtime/Process.h"

namespace {

MemoryLibrary* g_skinLibrary = nullptr;

}  // namespace

void LoadSkinLibrary(ByteSpan image) {
    if (!g_skinLibrary) {
        g_skinLibrary = new MemoryLibrary;
        // Destroying the loader leaves the image mapped: windows skinned by it
        // may still get messages while the process goes down.
        AtProgramEnd([] {
            delete g_skinLibrary;
            g_skinLibrary = nullptr;
        });
    }
    g_skinLibrary->Load(image);
}

MemoryLibrary* SkinLibrary() { return g_skinLibrary; }

int AttachSkin(ByteSpan skin) {
    if (!g_skinLibrary) return 0;
    const std::uintptr_t attach = g_skinLibrary->FindExport("Skin_AttachMemory");
    if (attach == 0) return 0;
    return CallAddress(attach, reinterpret_cast<std::intptr_t>(skin.data), std::intptr_t(skin.size));
}

std::int32_t CallAddress(std::uintptr_t function, std::intptr_t a1, std::intptr_t a2, std::intptr_t a3,
                         std::intptr_t a4, std::intptr_t a5, std::intptr_t a6, std::intptr_t a7,
                         std::intptr_t a8, std::intptr_t a9, std::intptr_t a10) {
#if defined(__x86_64__)
    // One calling convention, and the caller removes the arguments: a plain call is right.
    using Ten = std::int32_t (*)(std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t,
                                 std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t, std::intptr_t);
    return reinterpret_cast<Ten>(function)(a1, a2, a3, a4, a5, a6, a7, a8, a9, a10);
#else
    const std::intptr_t args[10] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10};
    std::int32_t result;
    // ebx is kept by every i386 calling convention, so the stack pointer saved
    // in it survives the call whatever the callee pops.
    asm volatile(
        "movl %%esp, %%ebx\n\t"
        "pushl 36(%2)\n\t"
        "pushl 32(%2)\n\t"
        "pushl 28(%2)\n\t"
        "pushl 24(%2)\n\t"
        "pushl 20(%2)\n\t"
        "pushl 16(%2)\n\t"
        "pushl 12(%2)\n\t"
        "pushl 8(%2)\n\t"
        "pushl 4(%2)\n\t"
        "pushl 0(%2)\n\t"
        "call *%1\n\t"
        "movl %%ebx, %%esp"
        : "=a"(result)
        : "r"(function), "r"(args)
        : "ebx", "ecx", "edx", "memory", "cc");
    return result;
#endif
}
