// Maps a DLL image held in memory into the process, links it against the
// system, runs its entry point and finds its exports, without the image ever
// touching the disk. The image is of the process's own kind: PE32 in a 32-bit
// process, PE32+ in a 64-bit one.
#pragma once

#include <cstdint>
#include <vector>

#include <windows.h>

#include "runtime/Text.h"

class MemoryLibrary {
public:
    MemoryLibrary() = default;
    // Copies share the mapped image; the image is never unloaded by them.
    MemoryLibrary(const MemoryLibrary&) = default;
    MemoryLibrary& operator=(const MemoryLibrary&) = default;
    ~MemoryLibrary() = default;

    bool Load(ByteSpan bytes);
    void Free();
    std::uintptr_t FindExport(const Text& name) const;
    std::uintptr_t EntryAddress() const;
    std::uintptr_t BaseAddress() const { return base_; }
    // Why the last Load refused its image, or "" after one that mapped it.
    const char* Refusal() const { return refusal_; }

    // The headers of the process's own kind of image.
#if defined(_WIN64)
    using NtHeaders = IMAGE_NT_HEADERS64;
#else
    using NtHeaders = IMAGE_NT_HEADERS32;
#endif

private:
    bool Refuse(const char* why);
    bool ParseHeaders(const std::uint8_t* data, std::size_t length);
    std::uint32_t ImageSize() const;
    bool LayoutIsSound(std::uint32_t size);
    static std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment);
    void MapSections(std::uint8_t* image, const std::uint8_t* data);
    std::uint64_t ReadableEnd(std::uint64_t rva) const;
    bool Readable(std::uint64_t rva, std::uint64_t length) const;
    bool NameReadable(const std::uint8_t* image, std::uint64_t rva) const;
    bool TlsHasNoCallbacks(const std::uint8_t* image);
    bool ApplyRelocations(std::uint8_t* image, std::uint32_t size);
    bool ResolveImports(std::uint8_t* image);
    bool ExportsAreReadable(const std::uint8_t* image);
    bool UnwindTablesAreSound(const std::uint8_t* image, std::uint32_t size);
    bool EntryIsCode();
    bool ProtectSections(std::uint8_t* image, std::uint32_t size);
    bool RegisterUnwindTables(std::uint8_t* image);
    void UnregisterUnwindTables(std::uint8_t* image) const;

    std::uintptr_t base_ = 0;
    std::uint32_t size_ = 0;  // of the mapped image, for the bounds of FindExport
    const char* refusal_ = "";
    IMAGE_DOS_HEADER dosHeader_ = {};
    NtHeaders ntHeaders_ = {};
    std::vector<IMAGE_SECTION_HEADER> sections_;
};
