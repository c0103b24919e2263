// The window skin: the skin library mapped from the executable's bytes at
// start-up, and the skin handed to it once the main window exists.
#pragma once

#include <cstdint>

#include "runtime/Text.h"
#include "skin/MemoryLibrary.h"

// Creates the process-wide loader (destroyed at program end, the library
// left mapped) and maps the library into it. A failed load is not reported:
// the windows then stay unskinned.
void LoadSkinLibrary(ByteSpan image);
// The process-wide loader, or nullptr before LoadSkinLibrary.
MemoryLibrary* SkinLibrary();

// Hands the skin to the library's Skin_AttachMemory; returns what it returns,
// or 0 without calling anything when the library or the export is missing.
int AttachSkin(ByteSpan skin);

// Calls the machine function at `function` with ten arguments pushed as for
// stdcall (a1 lowest) and returns its result. The stack pointer is restored
// after the call, so a function that takes fewer arguments, or cleans none
// up itself, is called correctly too. The arguments are as wide as a
// pointer: 32 bits in the program, 64 in the 64-bit test build, where an
// address (the skin's) must not lose its upper half.
std::int32_t CallAddress(std::uintptr_t function, std::intptr_t a1 = 0, std::intptr_t a2 = 0,
                         std::intptr_t a3 = 0, std::intptr_t a4 = 0, std::intptr_t a5 = 0,
                         std::intptr_t a6 = 0, std::intptr_t a7 = 0, std::intptr_t a8 = 0,
                         std::intptr_t a9 = 0, std::intptr_t a10 = 0);
