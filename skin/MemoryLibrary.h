// Maps a 32-bit DLL image held in memory into the process, links it against
// the system, runs its entry point and finds its exports, without the image
// ever touching the disk.
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

private:
    bool ParseHeaders(const std::uint8_t* data, std::size_t length);
    std::uint32_t ImageSize() const;
    bool LayoutIsSound(std::uint32_t size) const;
    bool ProtectSections(std::uint8_t* image, std::uint32_t size) const;
    static std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment);
    void MapSections(std::uint8_t* image, const std::uint8_t* data);
    bool ApplyRelocations(std::uint8_t* image, std::uint32_t size);
    bool ResolveImports(std::uint8_t* image, std::uint32_t size);

    std::uintptr_t base_ = 0;
    std::uint32_t size_ = 0;  // of the mapped image, for the bounds of FindExport
    IMAGE_DOS_HEADER dosHeader_ = {};
    IMAGE_NT_HEADERS32 ntHeaders_ = {};
    std::vector<IMAGE_SECTION_HEADER> sections_;
};
