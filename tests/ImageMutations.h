// Damaged copies of a DLL image, for the loader's fuzz tests: bits flipped in
// the headers and in the tables the loader walks, and fields of the section
// table, the data directories and the export and import tables set to values
// at and around the edges. The entry point is taken out first: the loader
// vets the format, not the code, so no damaged code is ever run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "runtime/Text.h"

// The headers of the process's own kind of image: PE32, or PE32+ in a 64-bit process.
using NtHeaders = IMAGE_NT_HEADERS;

inline NtHeaders* NtOf(Bytes& dll) {
    return reinterpret_cast<NtHeaders*>(dll.data() + reinterpret_cast<IMAGE_DOS_HEADER*>(dll.data())->e_lfanew);
}
inline const NtHeaders* NtOf(const Bytes& dll) {
    return reinterpret_cast<const NtHeaders*>(dll.data() + reinterpret_cast<const IMAGE_DOS_HEADER*>(dll.data())->e_lfanew);
}
inline IMAGE_SECTION_HEADER* SectionTable(Bytes& dll) { return IMAGE_FIRST_SECTION(NtOf(dll)); }

// The file offset of an RVA, or 0 when no section's raw data holds it.
inline std::size_t FileOffset(const Bytes& dll, std::uint64_t rva) {
    const NtHeaders* nt = NtOf(dll);
    const IMAGE_SECTION_HEADER* s = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++s)
        if (rva >= s->VirtualAddress && rva < std::uint64_t(s->VirtualAddress) + s->SizeOfRawData)
            return s->PointerToRawData + std::size_t(rva - s->VirtualAddress);
    return 0;
}

// The bytes the mapping at `base` spans: its header's SizeOfImage may be
// one of the damaged fields.
inline std::uintptr_t MappedSize(std::uintptr_t base) {
    std::uintptr_t size = 0;
    MEMORY_BASIC_INFORMATION info;
    while (VirtualQuery(reinterpret_cast<void*>(base + size), &info, sizeof info) == sizeof info &&
           reinterpret_cast<std::uintptr_t>(info.AllocationBase) == base && info.State != MEM_FREE)
        size += info.RegionSize;
    return size;
}

class ImageMutator {
public:
    explicit ImageMutator(const Bytes& dll) : base_(dll) {
        NtHeaders* nt = NtOf(base_);
        nt->OptionalHeader.AddressOfEntryPoint = 0;
        entryField_ = reinterpret_cast<std::uint8_t*>(&nt->OptionalHeader.AddressOfEntryPoint) - base_.data();
        const std::size_t headers = nt->OptionalHeader.SizeOfHeaders;
        regions_.push_back({0, headers});
        // Every field of the section table and of the data directories.
        IMAGE_SECTION_HEADER* s = IMAGE_FIRST_SECTION(nt);
        for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++s)
            for (std::size_t field = 8; field < sizeof *s; field += 4) Field(reinterpret_cast<std::uint8_t*>(s) + field);
        for (IMAGE_DATA_DIRECTORY& d : nt->OptionalHeader.DataDirectory) {
            Field(reinterpret_cast<std::uint8_t*>(&d.VirtualAddress));
            Field(reinterpret_cast<std::uint8_t*>(&d.Size));
        }
        // The tables themselves: exports, imports, relocations, exceptions.
        for (int d : {IMAGE_DIRECTORY_ENTRY_EXPORT, IMAGE_DIRECTORY_ENTRY_IMPORT, IMAGE_DIRECTORY_ENTRY_BASERELOC,
                      IMAGE_DIRECTORY_ENTRY_EXCEPTION}) {
            const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[d];
            const std::size_t at = FileOffset(base_, dir.VirtualAddress);
            if (dir.Size && at) regions_.push_back({at, std::min<std::size_t>(dir.Size, base_.size() - at)});
        }
        const IMAGE_DATA_DIRECTORY& exports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
        if (const std::size_t at = FileOffset(base_, exports.VirtualAddress))
            for (std::size_t field = 12; field < sizeof(IMAGE_EXPORT_DIRECTORY); field += 4) Field(&base_[at + field]);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        if (std::size_t at = FileOffset(base_, imports.VirtualAddress))
            for (; at + sizeof(IMAGE_IMPORT_DESCRIPTOR) <= base_.size(); at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
                IMAGE_IMPORT_DESCRIPTOR d;
                std::memcpy(&d, &base_[at], sizeof d);
                if (d.FirstThunk == 0) break;
                for (std::size_t field = 0; field < sizeof d; field += 4) Field(&base_[at + field]);
            }
    }

    const Bytes& Sound() const { return base_; }

    // Damaged copy number n.
    Bytes Make(std::uint32_t n) const {
        std::mt19937 rnd(n);
        Bytes broken = base_;
        if (n % 2 == 0) {
            const auto& [from, length] = regions_[rnd() % regions_.size()];
            for (std::uint32_t k = 0; k < 1 + rnd() % 3; ++k) {
                const std::size_t at = from + rnd() % length;
                if (at < entryField_ || at >= entryField_ + 4) broken[at] ^= std::uint8_t(1u << (rnd() % 8));
            }
        } else {
            for (std::uint32_t k = 0; k < 1 + rnd() % 2; ++k) {
                const std::size_t at = fields_[rnd() % fields_.size()];
                std::uint32_t value;
                std::memcpy(&value, &broken[at], 4);
                value = Edge(value, rnd);
                std::memcpy(&broken[at], &value, 4);
            }
        }
        return broken;
    }

private:
    void Field(std::uint8_t* at) { fields_.push_back(std::size_t(at - base_.data())); }

    std::uint32_t Edge(std::uint32_t old, std::mt19937& rnd) const {
        std::uint32_t other;
        std::memcpy(&other, &base_[fields_[rnd() % fields_.size()]], 4);
        const std::uint32_t values[] = {0,          1,          old - 1,    old + 1,    old + 0xC01, old - 0x3FF,
                                        old + 0x1000, old - 0x1000, 0xFFF,    0x1000,     0x7FFFFFFF,  0x80000000,
                                        0xFFFFFFFF, other,      other + 4,  old ^ (1u << (rnd() % 32)), std::uint32_t(rnd())};
        return values[rnd() % (sizeof values / sizeof values[0])];
    }

    Bytes base_;
    std::size_t entryField_ = 0;
    std::vector<std::pair<std::size_t, std::size_t>> regions_;  // file ranges whose bits are flipped
    std::vector<std::size_t> fields_;                            // file offsets of 32-bit fields set to edges
};
