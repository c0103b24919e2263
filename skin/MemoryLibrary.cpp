#include "skin/MemoryLibrary.h"

#include <algorithm>
#include <cstring>

namespace {

using DllEntry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

// A damaged image must not make us allocate without bound.
constexpr std::uint32_t kMaxImageSize = 256u << 20;

// Is [offset, offset + length) inside a block of `size` bytes?
bool Inside(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

// A zero-ended name inside the image, or nullptr.
const char* NameAt(const std::uint8_t* image, std::uint32_t size, std::uint32_t rva) {
    if (rva >= size) return nullptr;
    const void* end = std::memchr(image + rva, 0, size - rva);
    return end ? reinterpret_cast<const char*>(image + rva) : nullptr;
}

template <typename T>
bool ReadAt(const std::uint8_t* image, std::uint32_t size, std::uint64_t rva, T* out) {
    if (!Inside(rva, sizeof(T), size)) return false;
    std::memcpy(out, image + rva, sizeof(T));
    return true;
}

}  // namespace

bool MemoryLibrary::Load(ByteSpan bytes) {
    if (base_ != 0) return false;
    if (!ParseHeaders(bytes.data, bytes.size)) return false;
    const std::uint32_t size = ImageSize();
    if (size == 0 || !LayoutIsSound(size)) return false;
    // What was checked is what is used: the mapped image may say otherwise.
    const IMAGE_DOS_HEADER checkedDos = dosHeader_;
    const IMAGE_NT_HEADERS32 checked = ntHeaders_;
    const std::vector<IMAGE_SECTION_HEADER> checkedSections = sections_;

    auto* image = static_cast<std::uint8_t*>(VirtualAlloc(reinterpret_cast<void*>(std::uintptr_t(checked.OptionalHeader.ImageBase)),
                                                          size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!image) image = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!image) return false;

    MapSections(image, bytes.data);
    const bool same = std::memcmp(&dosHeader_, &checkedDos, sizeof checkedDos) == 0 &&
                      std::memcmp(&ntHeaders_, &checked, sizeof checked) == 0 &&
                      std::memcmp(sections_.data(), checkedSections.data(),
                                  checkedSections.size() * sizeof(IMAGE_SECTION_HEADER)) == 0;
    const bool linked = same &&
                        (checked.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size == 0 ||
                         ApplyRelocations(image, size)) &&
                        ResolveImports(image, size) && ProtectSections(image, size);
    if (!linked) {
        VirtualFree(image, 0, MEM_RELEASE);
        return false;
    }
    const std::uint32_t entryPoint = checked.OptionalHeader.AddressOfEntryPoint;
    if ((checked.FileHeader.Characteristics & IMAGE_FILE_DLL) && entryPoint != 0) {
        // The module handle is 0: the image is not a module the system knows.
        auto entry = reinterpret_cast<DllEntry>(image + entryPoint);
        if (!entry(nullptr, DLL_PROCESS_ATTACH, nullptr)) {
            entry(nullptr, DLL_PROCESS_DETACH, nullptr);
            VirtualFree(image, 0, MEM_RELEASE);
            return false;
        }
    }
    base_ = reinterpret_cast<std::uintptr_t>(image);
    size_ = size;
    return true;
}

// The headers fit inside SizeOfHeaders, which fits inside the image; every
// mapped section lies inside the image, past the headers, clear of every
// other section; the entry point, when there is one, lies inside the image.
bool MemoryLibrary::LayoutIsSound(std::uint32_t size) const {
    const IMAGE_OPTIONAL_HEADER32& opt = ntHeaders_.OptionalHeader;
    const std::uint64_t headers = std::uint64_t(dosHeader_.e_lfanew) + sizeof ntHeaders_ +
                                  std::uint64_t(sections_.size()) * sizeof(IMAGE_SECTION_HEADER);
    if (size > kMaxImageSize || headers > opt.SizeOfHeaders || opt.SizeOfHeaders > size ||
        (opt.AddressOfEntryPoint != 0 && opt.AddressOfEntryPoint >= size))
        return false;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    for (const IMAGE_SECTION_HEADER& s : sections_) {
        if (s.VirtualAddress == 0) break;  // the rest are not mapped
        const std::uint64_t extent = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
        if (s.VirtualAddress < opt.SizeOfHeaders || !Inside(s.VirtualAddress, s.SizeOfRawData, size) ||
            !Inside(s.VirtualAddress, extent, size))
            return false;
        spans.emplace_back(s.VirtualAddress, s.VirtualAddress + extent);
    }
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second) return false;
    return true;
}

// Gives each page the access its sections ask for, as the system's own
// loader does: the headers read-only, code not writable, data not executable.
// A page that two small sections share gets what both need.
bool MemoryLibrary::ProtectSections(std::uint8_t* image, std::uint32_t size) const {
    constexpr std::uint8_t kRead = 1, kWrite = 2, kExecute = 4;
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const std::uint32_t page = system.dwPageSize;
    std::vector<std::uint8_t> access((std::uint64_t(size) + page - 1) / page, 0);
    const auto grant = [&](std::uint64_t from, std::uint64_t length, std::uint8_t what) {
        for (std::uint64_t p = from / page; length && p < access.size() && p * page < from + length; ++p)
            access[std::size_t(p)] |= what;
    };
    grant(0, ntHeaders_.OptionalHeader.SizeOfHeaders, kRead);
    for (const IMAGE_SECTION_HEADER& s : sections_) {
        if (s.VirtualAddress == 0) break;
        const DWORD c = s.Characteristics;
        std::uint8_t what = ((c & IMAGE_SCN_MEM_READ) ? kRead : 0) | ((c & IMAGE_SCN_MEM_WRITE) ? kWrite : 0) |
                            ((c & IMAGE_SCN_MEM_EXECUTE) ? kExecute : 0);
        // A section that names no access at all (hand-made images often
        // leave the flags out) stays readable rather than becoming a trap.
        if (what == 0) what = kRead;
        grant(s.VirtualAddress, std::max(s.Misc.VirtualSize, s.SizeOfRawData), what);
    }
    static const DWORD kProtection[8] = {PAGE_NOACCESS,     PAGE_READONLY,     PAGE_READWRITE,
                                         PAGE_READWRITE,    PAGE_EXECUTE,      PAGE_EXECUTE_READ,
                                         PAGE_EXECUTE_READWRITE, PAGE_EXECUTE_READWRITE};
    for (std::size_t first = 0; first < access.size();) {
        std::size_t last = first;
        while (last + 1 < access.size() && access[last + 1] == access[first]) ++last;
        DWORD old = 0;
        if (!VirtualProtect(image + first * page, (last - first + 1) * page, kProtection[access[first]], &old))
            return false;
        first = last + 1;
    }
    return true;
}

void MemoryLibrary::Free() {
    if (base_ == 0) return;
    if ((ntHeaders_.FileHeader.Characteristics & IMAGE_FILE_DLL) && ntHeaders_.OptionalHeader.AddressOfEntryPoint) {
        auto entry = reinterpret_cast<DllEntry>(base_ + ntHeaders_.OptionalHeader.AddressOfEntryPoint);
        entry(nullptr, DLL_PROCESS_DETACH, nullptr);
    }
    VirtualFree(reinterpret_cast<void*>(base_), 0, MEM_RELEASE);
    base_ = 0;
    size_ = 0;
}

std::uintptr_t MemoryLibrary::EntryAddress() const {
    return base_ ? base_ + ntHeaders_.OptionalHeader.AddressOfEntryPoint : 0;
}

std::uintptr_t MemoryLibrary::FindExport(const Text& name) const {
    const IMAGE_DATA_DIRECTORY& dir = ntHeaders_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (base_ == 0 || dir.Size == 0) return 0;
    const auto* image = reinterpret_cast<const std::uint8_t*>(base_);
    IMAGE_EXPORT_DIRECTORY exports;
    if (!ReadAt(image, size_, dir.VirtualAddress, &exports)) return 0;
    const std::uint64_t n = exports.NumberOfNames;
    if (!Inside(exports.AddressOfNames, n * 4, size_) || !Inside(exports.AddressOfNameOrdinals, n * 2, size_) ||
        !Inside(exports.AddressOfFunctions, std::uint64_t(exports.NumberOfFunctions) * 4, size_))
        return 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        std::uint32_t nameRva = 0;
        std::uint16_t ordinal = 0;
        ReadAt(image, size_, exports.AddressOfNames + 4ull * i, &nameRva);
        const char* exported = NameAt(image, size_, nameRva);
        if (!exported || std::strcmp(exported, name.c_str()) != 0) continue;
        ReadAt(image, size_, exports.AddressOfNameOrdinals + 2ull * i, &ordinal);
        if (ordinal >= exports.NumberOfFunctions) return 0;
        std::uint32_t function = 0;
        ReadAt(image, size_, exports.AddressOfFunctions + 4ull * ordinal, &function);
        return function < size_ ? base_ + function : 0;
    }
    return 0;
}

bool MemoryLibrary::ParseHeaders(const std::uint8_t* data, std::size_t length) {
    if (!data || length < sizeof dosHeader_) return false;
    std::memcpy(&dosHeader_, data, sizeof dosHeader_);
    if (dosHeader_.e_magic != IMAGE_DOS_SIGNATURE || dosHeader_.e_lfanew < 0) return false;
    const std::uint64_t nt = std::uint64_t(dosHeader_.e_lfanew);
    if (!Inside(nt, sizeof ntHeaders_, length)) return false;
    std::memcpy(&ntHeaders_, data + nt, sizeof ntHeaders_);
    if (ntHeaders_.Signature != IMAGE_NT_SIGNATURE) return false;
    if (!(ntHeaders_.FileHeader.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE)) return false;
    if (ntHeaders_.FileHeader.SizeOfOptionalHeader != sizeof(IMAGE_OPTIONAL_HEADER32)) return false;
    if (ntHeaders_.OptionalHeader.SectionAlignment == 0) return false;
    const std::uint32_t count = ntHeaders_.FileHeader.NumberOfSections;
    // The section table and every section's raw data lie inside the byte set.
    if (!Inside(nt + sizeof ntHeaders_, std::uint64_t(count) * sizeof(IMAGE_SECTION_HEADER), length)) return false;
    // The headers, section table included, lie inside SizeOfHeaders, which lies inside the byte set.
    if (ntHeaders_.OptionalHeader.SizeOfHeaders > length ||
        nt + sizeof ntHeaders_ + std::uint64_t(count) * sizeof(IMAGE_SECTION_HEADER) > ntHeaders_.OptionalHeader.SizeOfHeaders)
        return false;
    sections_.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::memcpy(&sections_[i], data + nt + sizeof ntHeaders_ + i * sizeof(IMAGE_SECTION_HEADER),
                    sizeof(IMAGE_SECTION_HEADER));
        if (!Inside(sections_[i].PointerToRawData, sections_[i].SizeOfRawData, length)) return false;
    }
    return true;
}

std::uint32_t MemoryLibrary::AlignUp(std::uint32_t value, std::uint32_t alignment) {
    const std::uint64_t v = (std::uint64_t(value) + alignment - 1) / alignment * alignment;
    return v > 0xFFFFFFFFull ? 0 : std::uint32_t(v);
}

std::uint32_t MemoryLibrary::ImageSize() const {
    const std::uint32_t align = ntHeaders_.OptionalHeader.SectionAlignment;
    std::uint64_t result = AlignUp(ntHeaders_.OptionalHeader.SizeOfHeaders, align);
    for (const IMAGE_SECTION_HEADER& s : sections_) {
        const std::uint64_t extent = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
        const std::uint64_t end = (s.VirtualAddress + extent + align - 1) / align * align;
        result = std::max(result, end);
    }
    return result > kMaxImageSize ? 0 : std::uint32_t(result);
}

void MemoryLibrary::MapSections(std::uint8_t* image, const std::uint8_t* data) {
    std::memcpy(image, data, ntHeaders_.OptionalHeader.SizeOfHeaders);
    for (const IMAGE_SECTION_HEADER& s : sections_) {
        if (s.VirtualAddress == 0) break;
        if (s.SizeOfRawData) std::memcpy(image + s.VirtualAddress, data + s.PointerToRawData, s.SizeOfRawData);
    }
    // From here on the copies describe the mapped image, not the byte set.
    // (The headers lie inside SizeOfHeaders, checked, so these reads stay
    // inside the copied bytes; Load compares them with what it checked.)
    std::memcpy(&dosHeader_, image, sizeof dosHeader_);
    std::memcpy(&ntHeaders_, image + dosHeader_.e_lfanew, sizeof ntHeaders_);
    for (std::size_t i = 0; i < sections_.size(); ++i)
        std::memcpy(&sections_[i], image + dosHeader_.e_lfanew + sizeof ntHeaders_ + i * sizeof(IMAGE_SECTION_HEADER),
                    sizeof(IMAGE_SECTION_HEADER));
}

bool MemoryLibrary::ApplyRelocations(std::uint8_t* image, std::uint32_t size) {
    const std::uint32_t delta = std::uint32_t(reinterpret_cast<std::uintptr_t>(image)) - ntHeaders_.OptionalHeader.ImageBase;
    const IMAGE_DATA_DIRECTORY& dir = ntHeaders_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    // The walk stays inside the relocation directory and every patch inside the image.
    if (!Inside(dir.VirtualAddress, dir.Size, size)) return false;
    std::uint64_t at = dir.VirtualAddress;
    const std::uint64_t end = std::uint64_t(dir.VirtualAddress) + dir.Size;
    while (at + sizeof(IMAGE_BASE_RELOCATION) <= end) {
        IMAGE_BASE_RELOCATION block;
        std::memcpy(&block, image + at, sizeof block);
        if (block.VirtualAddress == 0) break;
        if (block.SizeOfBlock < sizeof block || at + block.SizeOfBlock > end) return false;
        const std::uint32_t entries = (block.SizeOfBlock - sizeof block) / 2;
        for (std::uint32_t i = 0; i < entries; ++i) {
            std::uint16_t entry;
            std::memcpy(&entry, image + at + sizeof block + 2 * i, 2);
            if ((entry & 0xF000) != (IMAGE_REL_BASED_HIGHLOW << 12)) continue;
            const std::uint64_t target = std::uint64_t(block.VirtualAddress) + (entry & 0x0FFF);
            if (!Inside(target, 4, size)) return false;
            std::uint32_t value;
            std::memcpy(&value, image + target, 4);
            value += delta;
            std::memcpy(image + target, &value, 4);
        }
        at += block.SizeOfBlock;
    }
    return true;
}

bool MemoryLibrary::ResolveImports(std::uint8_t* image, std::uint32_t size) {
    const IMAGE_DATA_DIRECTORY& dir = ntHeaders_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return true;
    for (std::uint64_t desc = dir.VirtualAddress;; desc += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR d;
        if (!ReadAt(image, size, desc, &d)) return false;
        if (d.FirstThunk == 0) return true;
        const char* library = NameAt(image, size, d.Name);
        if (!library) return false;
        HMODULE module = GetModuleHandleA(library);
        if (!module) module = LoadLibraryA(library);
        if (!module) return false;
        for (std::uint64_t slot = d.FirstThunk;; slot += 4) {
            std::uint32_t v;
            if (!ReadAt(image, size, slot, &v)) return false;
            if (v == 0) break;
            FARPROC address;
            if (v & IMAGE_ORDINAL_FLAG32) {
                address = GetProcAddress(module, MAKEINTRESOURCEA(v & 0xFFFF));
            } else {
                const char* function = NameAt(image, size, v + 2u < v ? size : v + 2u);  // after the hint
                if (!function) return false;
                address = GetProcAddress(module, function);
            }
            if (!address) return false;
            const std::uint32_t value = std::uint32_t(reinterpret_cast<std::uintptr_t>(address));
            std::memcpy(image + slot, &value, 4);
        }
    }
}
