#include "skin/MemoryLibrary.h"

#include <algorithm>
#include <cstring>

namespace {

using DllEntry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

// What differs between the two kinds of image. Everything else is one path:
// an import slot and a relocated address are as wide as a pointer.
#if defined(_WIN64)
constexpr WORD kMachine = IMAGE_FILE_MACHINE_AMD64;
constexpr WORD kMagic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
constexpr WORD kRelocationType = IMAGE_REL_BASED_DIR64;
constexpr std::uint64_t kOrdinalFlag = IMAGE_ORDINAL_FLAG64;
using TlsDirectory = IMAGE_TLS_DIRECTORY64;
#else
constexpr WORD kMachine = IMAGE_FILE_MACHINE_I386;
constexpr WORD kMagic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
constexpr WORD kRelocationType = IMAGE_REL_BASED_HIGHLOW;
constexpr std::uint32_t kOrdinalFlag = IMAGE_ORDINAL_FLAG32;
using TlsDirectory = IMAGE_TLS_DIRECTORY32;
#endif
using Word = std::uintptr_t;

// A damaged image must not make us allocate without bound.
constexpr std::uint32_t kMaxImageSize = 256u << 20;

// Why Load refused an image.
const char kAlreadyLoaded[] = "an image is loaded already";
const char kNotAnImage[] = "not an executable PE image, or cut short";
const char kOtherKind[] = "an image for another kind of process (Machine or optional header)";
const char kBadLayout[] = "headers or sections outside the image, over the headers or over each other";
const char kSectionAtZero[] = "a section at RVA 0";
const char kNoMemory[] = "no memory for the image";
const char kFixedBaseTaken[] = "its preferred base is taken and it has no relocations";
const char kHeadersRewritten[] = "a section rewrites the headers";
const char kBadTls[] = "its TLS directory lies outside its readable sections";
const char kTlsCallbacks[] = "it has TLS callbacks, which this loader does not run";
const char kBadRelocations[] = "its relocations lie outside its readable sections or patch outside the image";
const char kForeignRelocation[] = "a relocation of a type other than this process's";
const char kBadImports[] = "its import tables lie outside its readable sections";
const char kLibraryNotFound[] = "an imported library is not in the system folder";
const char kFunctionNotFound[] = "an imported function is missing";
const char kBadExports[] = "its export tables lie outside its readable sections";
const char kBadUnwind[] = "its exception table lies outside its readable sections or its code";
const char kEntryNotCode[] = "its entry point lies outside its executable sections";
const char kNotProtected[] = "its pages could not be protected";
const char kNotRegistered[] = "its exception table could not be registered";
const char kEntryRefused[] = "its entry point refused the attach";

// Is [offset, offset + length) inside a block of `size` bytes?
bool Inside(std::uint64_t offset, std::uint64_t length, std::uint64_t size) {
    return offset <= size && length <= size - offset;
}

// A zero-ended name inside the image, or nullptr.
const char* NameAt(const std::uint8_t* image, std::uint32_t size, std::uint64_t rva) {
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

// The access a section asks for. A section that names none at all
// (hand-made images often leave the flags out) stays readable rather than
// becoming a trap.
constexpr std::uint8_t kRead = 1, kWrite = 2, kExecute = 4;
std::uint8_t Access(const IMAGE_SECTION_HEADER& s) {
    const DWORD c = s.Characteristics;
    const std::uint8_t what = ((c & IMAGE_SCN_MEM_READ) ? kRead : 0) | ((c & IMAGE_SCN_MEM_WRITE) ? kWrite : 0) |
                              ((c & IMAGE_SCN_MEM_EXECUTE) ? kExecute : 0);
    return what ? what : kRead;
}

std::uint64_t Extent(const IMAGE_SECTION_HEADER& s) { return std::max(s.Misc.VirtualSize, s.SizeOfRawData); }

// A library the image imports, from the system folder only: never from the
// program's folder or the current one, where a planted copy would be taken.
HMODULE LoadSystemLibrary(const char* name) {
    // A name with a path in it could lead out of the system folder.
    if (std::strpbrk(name, "\\/:")) return nullptr;
    HMODULE module = LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    // Windows 7 without its 2011 loader update knows no search flags: the
    // system folder is then named in full.
    if (!module && GetLastError() == ERROR_INVALID_PARAMETER) {
        wchar_t path[MAX_PATH];
        std::size_t length = GetSystemDirectoryW(path, MAX_PATH);
        if (length == 0 || length + 1 + std::strlen(name) >= MAX_PATH) return nullptr;
        path[length++] = L'\\';
        for (const char* c = name; *c; ++c) {
            if (static_cast<unsigned char>(*c) >= 0x80) return nullptr;  // system DLLs have ASCII names
            path[length++] = wchar_t(*c);
        }
        path[length] = 0;
        module = LoadLibraryExW(path, nullptr, 0);
    }
    return module;
}

}  // namespace

bool MemoryLibrary::Refuse(const char* why) {
    refusal_ = why;
    return false;
}

bool MemoryLibrary::Load(ByteSpan bytes) {
    if (base_ != 0) return Refuse(kAlreadyLoaded);
    if (!ParseHeaders(bytes.data, bytes.size)) return false;
    const std::uint32_t size = ImageSize();
    if (size == 0) return Refuse(kBadLayout);
    if (!LayoutIsSound(size)) return false;
    // What was checked is what is used: the mapped image may say otherwise.
    const IMAGE_DOS_HEADER checkedDos = dosHeader_;
    const NtHeaders checked = ntHeaders_;
    const std::vector<IMAGE_SECTION_HEADER> checkedSections = sections_;

    // An image without relocations works only where it was linked to run,
    // unless its linker declared it movable: it then holds no address to
    // patch (64-bit code reaches its data relative to itself).
    const bool relocatable =
        !(checked.FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED) &&
        (checked.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size != 0 ||
         (checked.OptionalHeader.DllCharacteristics & IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE));
    void* const preferred = reinterpret_cast<void*>(Word(checked.OptionalHeader.ImageBase));
    auto* image = static_cast<std::uint8_t*>(VirtualAlloc(preferred, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    // (A preferred base off the allocation granularity is rounded down.)
    if (image && image != preferred && !relocatable) {
        VirtualFree(image, 0, MEM_RELEASE);
        image = nullptr;
    }
    if (!image && !relocatable) return Refuse(kFixedBaseTaken);
    if (!image) image = static_cast<std::uint8_t*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!image) return Refuse(kNoMemory);

    MapSections(image, bytes.data);
    const bool same = std::memcmp(&dosHeader_, &checkedDos, sizeof checkedDos) == 0 &&
                      std::memcmp(&ntHeaders_, &checked, sizeof checked) == 0 &&
                      std::memcmp(sections_.data(), checkedSections.data(),
                                  checkedSections.size() * sizeof(IMAGE_SECTION_HEADER)) == 0;
    // The tables FindExport and the system read later are checked last,
    // once relocations and imports have written what they write.
    const bool linked = (same || Refuse(kHeadersRewritten)) && TlsHasNoCallbacks(image) &&
                        (checked.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].Size == 0 ||
                         ApplyRelocations(image, size)) &&
                        ResolveImports(image) && ExportsAreReadable(image) && UnwindTablesAreSound(image, size) &&
                        EntryIsCode() && ProtectSections(image, size) && RegisterUnwindTables(image);
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
            UnregisterUnwindTables(image);
            VirtualFree(image, 0, MEM_RELEASE);
            return Refuse(kEntryRefused);
        }
    }
    base_ = reinterpret_cast<std::uintptr_t>(image);
    size_ = size;
    refusal_ = "";
    return true;
}

// The headers fit inside SizeOfHeaders, which fits inside the image; every
// section lies inside the image, past the headers, clear of every other
// section; the entry point, when there is one, lies inside the image.
bool MemoryLibrary::LayoutIsSound(std::uint32_t size) {
    const auto& opt = ntHeaders_.OptionalHeader;
    const std::uint64_t headers = std::uint64_t(dosHeader_.e_lfanew) + sizeof ntHeaders_ +
                                  std::uint64_t(sections_.size()) * sizeof(IMAGE_SECTION_HEADER);
    if (size > kMaxImageSize || headers > opt.SizeOfHeaders || opt.SizeOfHeaders > size ||
        (opt.AddressOfEntryPoint != 0 && opt.AddressOfEntryPoint >= size))
        return Refuse(kBadLayout);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    for (const IMAGE_SECTION_HEADER& s : sections_) {
        if (s.VirtualAddress == 0) return Refuse(kSectionAtZero);
        if (s.VirtualAddress < opt.SizeOfHeaders || !Inside(s.VirtualAddress, s.SizeOfRawData, size) ||
            !Inside(s.VirtualAddress, Extent(s), size))
            return Refuse(kBadLayout);
        spans.emplace_back(s.VirtualAddress, s.VirtualAddress + Extent(s));
    }
    std::sort(spans.begin(), spans.end());
    for (std::size_t i = 1; i < spans.size(); ++i)
        if (spans[i].first < spans[i - 1].second) return Refuse(kBadLayout);
    return true;
}

// The end of the span that holds `rva` and stays readable once the image is
// protected (the headers, or one section that asks for reading or writing),
// or 0 when no such span holds it. Sections never overlap the headers or
// each other, so there is at most one.
std::uint64_t MemoryLibrary::ReadableEnd(std::uint64_t rva) const {
    if (rva < ntHeaders_.OptionalHeader.SizeOfHeaders) return ntHeaders_.OptionalHeader.SizeOfHeaders;
    for (const IMAGE_SECTION_HEADER& s : sections_)
        if (rva >= s.VirtualAddress && rva < s.VirtualAddress + Extent(s))
            return (Access(s) & (kRead | kWrite)) ? s.VirtualAddress + Extent(s) : 0;
    return 0;
}

bool MemoryLibrary::Readable(std::uint64_t rva, std::uint64_t length) const {
    if (length == 0) return true;
    const std::uint64_t end = ReadableEnd(rva);
    return end != 0 && length <= end - rva;
}

bool MemoryLibrary::NameReadable(const std::uint8_t* image, std::uint64_t rva) const {
    const std::uint64_t end = ReadableEnd(rva);
    return end != 0 && std::memchr(image + rva, 0, std::size_t(end - rva)) != nullptr;
}

// Gives each page the access its sections ask for, as the system's own
// loader does: the headers read-only, code not writable, data not executable.
// A page that two small sections share gets what both need.
bool MemoryLibrary::ProtectSections(std::uint8_t* image, std::uint32_t size) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const std::uint32_t page = system.dwPageSize;
    std::vector<std::uint8_t> access((std::uint64_t(size) + page - 1) / page, 0);
    const auto grant = [&](std::uint64_t from, std::uint64_t length, std::uint8_t what) {
        for (std::uint64_t p = from / page; length && p < access.size() && p * page < from + length; ++p)
            access[std::size_t(p)] |= what;
    };
    grant(0, ntHeaders_.OptionalHeader.SizeOfHeaders, kRead);
    for (const IMAGE_SECTION_HEADER& s : sections_) grant(s.VirtualAddress, Extent(s), Access(s));
    static const DWORD kProtection[8] = {PAGE_NOACCESS,     PAGE_READONLY,     PAGE_READWRITE,
                                         PAGE_READWRITE,    PAGE_EXECUTE,      PAGE_EXECUTE_READ,
                                         PAGE_EXECUTE_READWRITE, PAGE_EXECUTE_READWRITE};
    for (std::size_t first = 0; first < access.size();) {
        std::size_t last = first;
        while (last + 1 < access.size() && access[last + 1] == access[first]) ++last;
        DWORD old = 0;
        if (!VirtualProtect(image + first * page, (last - first + 1) * page, kProtection[access[first]], &old))
            return Refuse(kNotProtected);
        first = last + 1;
    }
    return true;
}

// The entry point, when it is called, lies in code.
bool MemoryLibrary::EntryIsCode() {
    const std::uint32_t entry = ntHeaders_.OptionalHeader.AddressOfEntryPoint;
    if (!(ntHeaders_.FileHeader.Characteristics & IMAGE_FILE_DLL) || entry == 0) return true;
    for (const IMAGE_SECTION_HEADER& s : sections_)
        if (entry >= s.VirtualAddress && entry < s.VirtualAddress + Extent(s) && (Access(s) & kExecute)) return true;
    return Refuse(kEntryNotCode);
}

// TLS callbacks would have to run before the entry point, on every thread:
// an image that has any is refused rather than run without them.
bool MemoryLibrary::TlsHasNoCallbacks(const std::uint8_t* image) {
    const IMAGE_DATA_DIRECTORY& dir = ntHeaders_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    if (dir.Size == 0) return true;
    TlsDirectory tls;
    if (!Readable(dir.VirtualAddress, sizeof tls)) return Refuse(kBadTls);
    std::memcpy(&tls, image + dir.VirtualAddress, sizeof tls);
    if (tls.AddressOfCallBacks == 0) return true;
    // An address as linked: the relocations have not run yet.
    const std::uint64_t list = std::uint64_t(tls.AddressOfCallBacks - ntHeaders_.OptionalHeader.ImageBase);
    Word first;
    if (!Readable(list, sizeof first)) return Refuse(kBadTls);
    std::memcpy(&first, image + list, sizeof first);
    return first == 0 || Refuse(kTlsCallbacks);
}

void MemoryLibrary::Free() {
    if (base_ == 0) return;
    if ((ntHeaders_.FileHeader.Characteristics & IMAGE_FILE_DLL) && ntHeaders_.OptionalHeader.AddressOfEntryPoint) {
        auto entry = reinterpret_cast<DllEntry>(base_ + ntHeaders_.OptionalHeader.AddressOfEntryPoint);
        entry(nullptr, DLL_PROCESS_DETACH, nullptr);
    }
    UnregisterUnwindTables(reinterpret_cast<std::uint8_t*>(base_));
    VirtualFree(reinterpret_cast<void*>(base_), 0, MEM_RELEASE);
    base_ = 0;
    size_ = 0;
}

std::uintptr_t MemoryLibrary::EntryAddress() const {
    return base_ ? base_ + ntHeaders_.OptionalHeader.AddressOfEntryPoint : 0;
}

// Load has checked that every table read here lies in readable sections;
// the bounds are kept all the same.
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
        // An address inside the export table is a forwarder's "LIBRARY.Name" text.
        if (function >= dir.VirtualAddress && function - dir.VirtualAddress < dir.Size) return 0;
        return function < size_ ? base_ + function : 0;
    }
    return 0;
}

bool MemoryLibrary::ParseHeaders(const std::uint8_t* data, std::size_t length) {
    if (!data || length < sizeof dosHeader_) return Refuse(kNotAnImage);
    std::memcpy(&dosHeader_, data, sizeof dosHeader_);
    if (dosHeader_.e_magic != IMAGE_DOS_SIGNATURE || dosHeader_.e_lfanew < 0) return Refuse(kNotAnImage);
    const std::uint64_t nt = std::uint64_t(dosHeader_.e_lfanew);
    if (!Inside(nt, sizeof ntHeaders_, length)) return Refuse(kNotAnImage);
    std::memcpy(&ntHeaders_, data + nt, sizeof ntHeaders_);
    if (ntHeaders_.Signature != IMAGE_NT_SIGNATURE) return Refuse(kNotAnImage);
    if (!(ntHeaders_.FileHeader.Characteristics & IMAGE_FILE_EXECUTABLE_IMAGE)) return Refuse(kNotAnImage);
    if (ntHeaders_.FileHeader.Machine != kMachine || ntHeaders_.OptionalHeader.Magic != kMagic ||
        ntHeaders_.FileHeader.SizeOfOptionalHeader != sizeof ntHeaders_.OptionalHeader)
        return Refuse(kOtherKind);
    if (ntHeaders_.OptionalHeader.SectionAlignment == 0) return Refuse(kBadLayout);
    const std::uint32_t count = ntHeaders_.FileHeader.NumberOfSections;
    // The section table and every section's raw data lie inside the byte set.
    if (!Inside(nt + sizeof ntHeaders_, std::uint64_t(count) * sizeof(IMAGE_SECTION_HEADER), length))
        return Refuse(kNotAnImage);
    // The headers, section table included, lie inside SizeOfHeaders, which lies inside the byte set.
    if (ntHeaders_.OptionalHeader.SizeOfHeaders > length ||
        nt + sizeof ntHeaders_ + std::uint64_t(count) * sizeof(IMAGE_SECTION_HEADER) > ntHeaders_.OptionalHeader.SizeOfHeaders)
        return Refuse(kBadLayout);
    sections_.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        std::memcpy(&sections_[i], data + nt + sizeof ntHeaders_ + i * sizeof(IMAGE_SECTION_HEADER),
                    sizeof(IMAGE_SECTION_HEADER));
        if (!Inside(sections_[i].PointerToRawData, sections_[i].SizeOfRawData, length)) return Refuse(kNotAnImage);
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
        const std::uint64_t end = (s.VirtualAddress + Extent(s) + align - 1) / align * align;
        result = std::max(result, end);
    }
    return result > kMaxImageSize ? 0 : std::uint32_t(result);
}

void MemoryLibrary::MapSections(std::uint8_t* image, const std::uint8_t* data) {
    std::memcpy(image, data, ntHeaders_.OptionalHeader.SizeOfHeaders);
    for (const IMAGE_SECTION_HEADER& s : sections_)
        if (s.SizeOfRawData) std::memcpy(image + s.VirtualAddress, data + s.PointerToRawData, s.SizeOfRawData);
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
    const Word delta = reinterpret_cast<Word>(image) - Word(ntHeaders_.OptionalHeader.ImageBase);
    const IMAGE_DATA_DIRECTORY& dir = ntHeaders_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    // The walk stays inside the relocation directory and every patch inside the image.
    if (!Readable(dir.VirtualAddress, dir.Size)) return Refuse(kBadRelocations);
    std::uint64_t at = dir.VirtualAddress;
    const std::uint64_t end = std::uint64_t(dir.VirtualAddress) + dir.Size;
    while (at + sizeof(IMAGE_BASE_RELOCATION) <= end) {
        IMAGE_BASE_RELOCATION block;
        std::memcpy(&block, image + at, sizeof block);
        if (block.VirtualAddress == 0) break;
        if (block.SizeOfBlock < sizeof block || at + block.SizeOfBlock > end) return Refuse(kBadRelocations);
        const std::uint32_t entries = (block.SizeOfBlock - sizeof block) / 2;
        for (std::uint32_t i = 0; i < entries; ++i) {
            std::uint16_t entry;
            std::memcpy(&entry, image + at + sizeof block + 2 * i, 2);
            const int type = entry >> 12;
            if (type == IMAGE_REL_BASED_ABSOLUTE) continue;  // a filler
            if (type != kRelocationType) return Refuse(kForeignRelocation);
            const std::uint64_t target = std::uint64_t(block.VirtualAddress) + (entry & 0x0FFF);
            if (!Inside(target, sizeof(Word), size)) return Refuse(kBadRelocations);
            Word value;
            std::memcpy(&value, image + target, sizeof value);
            value += delta;
            std::memcpy(image + target, &value, sizeof value);
        }
        at += block.SizeOfBlock;
    }
    return true;
}

bool MemoryLibrary::ResolveImports(std::uint8_t* image) {
    const IMAGE_DATA_DIRECTORY& dir = ntHeaders_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return true;
    for (std::uint64_t desc = dir.VirtualAddress;; desc += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
        IMAGE_IMPORT_DESCRIPTOR d;
        if (!Readable(desc, sizeof d)) return Refuse(kBadImports);
        std::memcpy(&d, image + desc, sizeof d);
        if (d.FirstThunk == 0) return true;
        if (!NameReadable(image, d.Name)) return Refuse(kBadImports);
        HMODULE module = LoadSystemLibrary(reinterpret_cast<const char*>(image + d.Name));
        if (!module) return Refuse(kLibraryNotFound);
        for (std::uint64_t slot = d.FirstThunk;; slot += sizeof(Word)) {
            Word v;
            if (!Readable(slot, sizeof v)) return Refuse(kBadImports);
            std::memcpy(&v, image + slot, sizeof v);
            if (v == 0) break;
            FARPROC address = nullptr;
            if (v & kOrdinalFlag) {
                if ((v & 0xFFFF) == 0) return Refuse(kFunctionNotFound);
                address = GetProcAddress(module, MAKEINTRESOURCEA(v & 0xFFFF));
            } else {
                const std::uint64_t name = std::uint64_t(v) + 2;  // after the hint
                if (!NameReadable(image, name)) return Refuse(kBadImports);
                address = GetProcAddress(module, reinterpret_cast<const char*>(image + name));
            }
            if (!address) return Refuse(kFunctionNotFound);
            const Word value = reinterpret_cast<Word>(address);
            std::memcpy(image + slot, &value, sizeof value);
        }
    }
}

bool MemoryLibrary::ExportsAreReadable(const std::uint8_t* image) {
    const IMAGE_DATA_DIRECTORY& dir = ntHeaders_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    if (dir.Size == 0) return true;
    IMAGE_EXPORT_DIRECTORY exports;
    if (!Readable(dir.VirtualAddress, sizeof exports)) return Refuse(kBadExports);
    std::memcpy(&exports, image + dir.VirtualAddress, sizeof exports);
    const std::uint64_t n = exports.NumberOfNames;
    if (!Readable(exports.AddressOfNames, n * 4) || !Readable(exports.AddressOfNameOrdinals, n * 2) ||
        !Readable(exports.AddressOfFunctions, std::uint64_t(exports.NumberOfFunctions) * 4))
        return Refuse(kBadExports);
    for (std::uint64_t i = 0; i < n; ++i) {
        std::uint32_t name;
        std::memcpy(&name, image + exports.AddressOfNames + 4 * i, 4);
        if (!NameReadable(image, name)) return Refuse(kBadExports);
    }
    return true;
}

// A 64-bit image's exception table: the system walks it, and the unwind
// information it names, whenever an exception or an unwind passes through
// the image's code. (A 32-bit image has none: its handlers are chained on
// the stack.)
bool MemoryLibrary::UnwindTablesAreSound(const std::uint8_t* image, std::uint32_t size) {
#if defined(_WIN64)
    const IMAGE_DATA_DIRECTORY& dir = ntHeaders_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION];
    if (dir.Size == 0) return true;
    const std::uint64_t count = dir.Size / sizeof(RUNTIME_FUNCTION);
    if (!Readable(dir.VirtualAddress, count * sizeof(RUNTIME_FUNCTION))) return Refuse(kBadUnwind);
    for (std::uint64_t i = 0; i < count; ++i) {
        RUNTIME_FUNCTION f;
        std::memcpy(&f, image + dir.VirtualAddress + i * sizeof f, sizeof f);
        if (f.BeginAddress >= f.EndAddress || f.EndAddress > size) return Refuse(kBadUnwind);
        // The unwind information: a four-byte header, its codes (an even
        // number of slots), then a chained entry or a handler's address.
        std::uint8_t header[4];
        if (!Readable(f.UnwindData, sizeof header)) return Refuse(kBadUnwind);
        std::memcpy(header, image + f.UnwindData, sizeof header);
        const std::uint8_t flags = header[0] >> 3;
        const std::uint64_t codes = (header[2] + 1u) & ~1u;
        const std::uint64_t tail = (flags & UNW_FLAG_CHAININFO)                       ? sizeof(RUNTIME_FUNCTION)
                                   : (flags & (UNW_FLAG_EHANDLER | UNW_FLAG_UHANDLER)) ? 4
                                                                                       : 0;
        if (!Readable(f.UnwindData, sizeof header + 2 * codes + tail)) return Refuse(kBadUnwind);
    }
#else
    (void)image;
    (void)size;
#endif
    return true;
}

bool MemoryLibrary::RegisterUnwindTables(std::uint8_t* image) {
#if defined(_WIN64)
    const IMAGE_DATA_DIRECTORY& dir = ntHeaders_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION];
    if (dir.Size >= sizeof(RUNTIME_FUNCTION) &&
        !RtlAddFunctionTable(reinterpret_cast<RUNTIME_FUNCTION*>(image + dir.VirtualAddress),
                             DWORD(dir.Size / sizeof(RUNTIME_FUNCTION)), reinterpret_cast<DWORD64>(image)))
        return Refuse(kNotRegistered);
#else
    (void)image;
#endif
    return true;
}

void MemoryLibrary::UnregisterUnwindTables(std::uint8_t* image) const {
#if defined(_WIN64)
    const IMAGE_DATA_DIRECTORY& dir = ntHeaders_.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXCEPTION];
    if (dir.Size >= sizeof(RUNTIME_FUNCTION))
        RtlDeleteFunctionTable(reinterpret_cast<RUNTIME_FUNCTION*>(image + dir.VirtualAddress));
#else
    (void)image;
#endif
}
