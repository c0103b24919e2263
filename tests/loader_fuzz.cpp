// A longer fuzz run of MemoryLibrary than the tests make: damaged copies
// FIRST ... FIRST+COUNT-1 of a DLL (the same mutations as the tests'), each
// loaded, asked for every export the sound DLL has, and freed. A copy that
// crashes the loader is named before the process ends.
//
// usage: loader_fuzz DLL FIRST COUNT
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "ImageMutations.h"
#include "runtime/Encoding.h"
#include "runtime/FileUtil.h"
#include "skin/MemoryLibrary.h"

namespace {

volatile long g_current = -1;

LONG CALLBACK NameTheCopy(EXCEPTION_POINTERS* info) {
    const DWORD code = info->ExceptionRecord->ExceptionCode;
    if (code != EXCEPTION_ACCESS_VIOLATION && code != EXCEPTION_ILLEGAL_INSTRUCTION &&
        code != EXCEPTION_PRIV_INSTRUCTION && code != EXCEPTION_STACK_OVERFLOW)
        return EXCEPTION_CONTINUE_SEARCH;
    std::printf("CRASH: copy %ld, exception %#lx at %p\n", g_current, code, info->ExceptionRecord->ExceptionAddress);
    std::fflush(stdout);
    ExitProcess(3);
}

// The names the sound image exports.
std::vector<std::string> ExportNames(const Bytes& dll) {
    std::vector<std::string> names;
    const NtHeaders* nt = NtOf(dll);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const std::size_t at = FileOffset(dll, dir.VirtualAddress);
    if (!dir.Size || !at) return names;
    IMAGE_EXPORT_DIRECTORY exports;
    std::memcpy(&exports, &dll[at], sizeof exports);
    for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
        std::uint32_t name;
        std::memcpy(&name, &dll[FileOffset(dll, exports.AddressOfNames + 4 * i)], 4);
        names.emplace_back(reinterpret_cast<const char*>(&dll[FileOffset(dll, name)]));
    }
    return names;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: loader_fuzz DLL FIRST COUNT\n");
        return 2;
    }
    const Bytes dll = ReadFileBytes(argv[1]);
    if (dll.size() < 0x400) {
        std::fprintf(stderr, "%s: cannot read a DLL there\n", argv[1]);
        return 2;
    }
    const long first = std::atol(argv[2]), count = std::atol(argv[3]);
    const std::vector<std::string> names = ExportNames(dll);
    const ImageMutator mutator(dll);
    AddVectoredExceptionHandler(1, NameTheCopy);

    long loaded = 0, outside = 0;
    std::map<std::string, long> refusals;
    const DWORD start = GetTickCount();
    for (long n = first; n < first + count; ++n) {
        const Bytes broken = mutator.Make(std::uint32_t(n));
        g_current = n;
        MemoryLibrary lib;
        if (lib.Load(broken)) {
            ++loaded;
            const std::uintptr_t size = MappedSize(lib.BaseAddress());
            for (const std::string& name : names) {
                const std::uintptr_t address = lib.FindExport(name);
                if (address && (address < lib.BaseAddress() || address >= lib.BaseAddress() + size)) ++outside;
            }
            lib.FindExport("Nothing");
            lib.Free();
        } else {
            ++refusals[lib.Refusal()];
        }
    }
    std::printf("%s: copies %ld..%ld: %ld tried, %ld loaded, %ld refused, %ld exports outside the image, no crash (%lu ms)\n",
                argv[1], first, first + count - 1, count, loaded, count - loaded, outside, GetTickCount() - start);
    for (const auto& [why, times] : refusals) std::printf("  %7ld refused: %s\n", times, why.c_str());
    return outside ? 1 : 0;
}
