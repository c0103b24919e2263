// MemoryLibrary against DLLs of our own, against damaged copies of them, and
// against images made here, in the process's own kind of image (PE32 in a
// 32-bit process, PE32+ in a 64-bit one).
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ImageMutations.h"
#include "runtime/Encoding.h"
#include "runtime/FileUtil.h"
#include "skin/MemoryLibrary.h"

namespace {

Bytes ReadDll(const char* variable) {
    const char* v = std::getenv(variable);
    if (!v) return Bytes();
    Text path;
    for (const char* p = v; *p; ++p) path += *p == '/' ? '\\' : *p;
    return ReadFileBytes(path);
}

template <typename F>
F Export(const MemoryLibrary& lib, const char* name) {
    return reinterpret_cast<F>(lib.FindExport(name));
}

using IntFn = int(WINAPI*)();
using AddFn = int(WINAPI*)(int, int);
using PtrFn = int*(WINAPI*)();
using DwordFn = DWORD(WINAPI*)();
using Callback = int(WINAPI*)(int);
using CallThroughFn = int(WINAPI*)(Callback, int);
// An import slot, and an address the relocations patch: as wide as a pointer.
using Thunk = ULONG_PTR;

template <typename T>
T Read(std::uintptr_t address) {
    T v;
    std::memcpy(&v, reinterpret_cast<const void*>(address), sizeof v);
    return v;
}

void ExpectInsideImage(const MemoryLibrary& lib, std::uintptr_t address) {
    if (address == 0) return;
    EXPECT_GE(address, lib.BaseAddress());
    EXPECT_LT(address, lib.BaseAddress() + MappedSize(lib.BaseAddress()));
}

// ---- what the process holds -------------------------------------------------------

// The process's allocations, but for the images the system maps (a system DLL
// that a damaged import happens to name stays loaded: it is the system's):
// each one's base and the extent of its regions. Which addresses are free is
// never assumed: a loader that holds nothing leaves this list as it found it.
struct Allocation {
    std::uintptr_t base, extent;
};
struct Allocations {
    std::size_t count;
    Allocation list[16384];
};

void Walk(Allocations* into) {
    into->count = 0;
    MEMORY_BASIC_INFORMATION info;
    for (std::uintptr_t at = 0; VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) == sizeof info;) {
        if (info.State != MEM_FREE && info.Type != MEM_IMAGE) {
            const auto base = reinterpret_cast<std::uintptr_t>(info.AllocationBase);
            if (into->count && into->list[into->count - 1].base == base)
                into->list[into->count - 1].extent += info.RegionSize;
            else if (into->count < sizeof into->list / sizeof into->list[0])
                into->list[into->count++] = {base, info.RegionSize};
        }
        const std::uintptr_t next = reinterpret_cast<std::uintptr_t>(info.BaseAddress) + info.RegionSize;
        if (next <= at) break;
        at = next;
    }
}

// Static: the walks must not allocate memory of their own between the two they compare.
Allocations g_before, g_after;

void RememberAddressSpace() { Walk(&g_before); }

::testing::AssertionResult AddressSpaceAsRemembered() {
    Walk(&g_after);
    for (std::size_t i = 0; i < std::max(g_before.count, g_after.count); ++i) {
        const Allocation* b = i < g_before.count ? &g_before.list[i] : nullptr;
        const Allocation* a = i < g_after.count ? &g_after.list[i] : nullptr;
        if (a && b && a->base == b->base && a->extent == b->extent) continue;
        char text[160];
        std::snprintf(text, sizeof text, "allocation %zu: now %#zx (%#zx bytes), was %#zx (%#zx bytes)", i,
                      std::size_t(a ? a->base : 0), std::size_t(a ? a->extent : 0), std::size_t(b ? b->base : 0),
                      std::size_t(b ? b->extent : 0));
        return ::testing::AssertionFailure() << text;
    }
    return ::testing::AssertionSuccess();
}

// Holds a range of addresses so that nothing else maps there; held() is
// false when something already does (in a 32-bit Wine process, Wine itself
// reserves around the test DLLs' preferred bases, yet lets them be taken).
class Reservation {
public:
    Reservation(std::uintptr_t address, std::size_t size)
        : address_(address), held_(VirtualAlloc(reinterpret_cast<void*>(address), size, MEM_RESERVE, PAGE_NOACCESS)) {}
    ~Reservation() {
        if (held_) VirtualFree(held_, 0, MEM_RELEASE);
    }
    bool held() const { return held_ == reinterpret_cast<void*>(address_); }

private:
    std::uintptr_t address_;
    void* held_;
};

// ---- our test DLL -------------------------------------------------------------------

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        dll_ = ReadDll("VELMORA_LOADER_DLL");
        ASSERT_FALSE(dll_.empty()) << "VELMORA_LOADER_DLL names the test DLL";
        preferred_ = NtOf(dll_)->OptionalHeader.ImageBase;
        imageSize_ = NtOf(dll_)->OptionalHeader.SizeOfImage;
    }
    Bytes dll_;
    std::uintptr_t preferred_ = 0;
    std::size_t imageSize_ = 0;
};

TEST_F(Loader, MapsLinksStartsAndFindsExports) {
    RememberAddressSpace();
    MemoryLibrary lib;
    ASSERT_TRUE(lib.Load(dll_));
    ASSERT_NE(lib.BaseAddress(), 0u);
    EXPECT_EQ(lib.EntryAddress(), lib.BaseAddress() + NtOf(dll_)->OptionalHeader.AddressOfEntryPoint);
    EXPECT_EQ(Export<AddFn>(lib, "Add")(2, 40), 42);
    EXPECT_EQ(Export<IntFn>(lib, "Attaches")(), 1);
    EXPECT_EQ(Export<IntFn>(lib, "HandleWasZero")(), 1);
    // Global data is reached through relocated addresses inside the image.
    int* value = Export<PtrFn>(lib, "ValueAddress")();
    EXPECT_GT(reinterpret_cast<std::uintptr_t>(value), lib.BaseAddress());
    EXPECT_EQ(*value, 5);
    EXPECT_EQ(Export<DwordFn>(lib, "CurrentProcessId")(), GetCurrentProcessId());
    EXPECT_STREQ(lib.Refusal(), "");
    EXPECT_EQ(lib.FindExport("add"), 0u);  // names compare with case
    EXPECT_EQ(lib.FindExport("Missing"), 0u);

    // A second Load keeps the first image.
    const auto base = lib.BaseAddress();
    EXPECT_FALSE(lib.Load(dll_));
    EXPECT_EQ(lib.BaseAddress(), base);
    lib.Free();
    EXPECT_EQ(lib.BaseAddress(), 0u);
    EXPECT_EQ(lib.EntryAddress(), 0u);
    EXPECT_EQ(lib.FindExport("Add"), 0u);
    EXPECT_TRUE(AddressSpaceAsRemembered());
}

TEST_F(Loader, LoadsAtThePreferredBaseWhenFreeAndRelocatesWhenTaken) {
    bool free;
    {
        const Reservation probe(preferred_, imageSize_);
        free = probe.held();
    }
    MemoryLibrary home;
    ASSERT_TRUE(home.Load(dll_));
    if (free) {
        EXPECT_EQ(home.BaseAddress(), preferred_);
    }
    home.Free();

    // The preferred base held here (or by whoever holds it already): both
    // images go elsewhere and are patched for where they are.
    const Reservation taken(preferred_, imageSize_);
    MemoryLibrary first, second;
    ASSERT_TRUE(first.Load(dll_));
    ASSERT_TRUE(second.Load(dll_));
    EXPECT_NE(first.BaseAddress(), preferred_);
    EXPECT_NE(second.BaseAddress(), preferred_);
    EXPECT_NE(second.BaseAddress(), first.BaseAddress());
    int* a = Export<PtrFn>(first, "ValueAddress")();
    int* b = Export<PtrFn>(second, "ValueAddress")();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) - second.BaseAddress(),
              reinterpret_cast<std::uintptr_t>(a) - first.BaseAddress());
    *b = 9;
    EXPECT_EQ(*a, 5);
    EXPECT_EQ(Export<DwordFn>(second, "CurrentProcessId")(), GetCurrentProcessId());
    first.Free();
    second.Free();
}

TEST_F(Loader, ResolvesAnImportGivenByOrdinal) {
    // Turn the by-name thunk of GetCurrentProcessId into KERNEL32's ordinal for it.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto* k = reinterpret_cast<const BYTE*>(kernel);
    const auto* knt = reinterpret_cast<const NtHeaders*>(k + reinterpret_cast<const IMAGE_DOS_HEADER*>(k)->e_lfanew);
    const auto* kexp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        k + knt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(k + kexp->AddressOfNames);
    const auto* ords = reinterpret_cast<const WORD*>(k + kexp->AddressOfNameOrdinals);
    DWORD ordinal = 0;
    for (DWORD i = 0; i < kexp->NumberOfNames; ++i)
        if (!std::strcmp(reinterpret_cast<const char*>(k + names[i]), "GetCurrentProcessId"))
            ordinal = kexp->Base + ords[i];
    ASSERT_NE(ordinal, 0u);

    Bytes patched = dll_;
    std::size_t desc = FileOffset(patched, NtOf(patched)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    int replaced = 0;
    for (IMAGE_IMPORT_DESCRIPTOR d; std::memcpy(&d, &patched[desc], sizeof d), d.FirstThunk; desc += sizeof d) {
        for (std::size_t slot = FileOffset(patched, d.FirstThunk);; slot += sizeof(Thunk)) {
            Thunk v;
            std::memcpy(&v, &patched[slot], sizeof v);
            if (!v) break;
            if (!(v & IMAGE_ORDINAL_FLAG) &&
                !std::strcmp(reinterpret_cast<const char*>(&patched[FileOffset(patched, v) + 2]), "GetCurrentProcessId")) {
                v = IMAGE_ORDINAL_FLAG | ordinal;
                std::memcpy(&patched[slot], &v, sizeof v);
                ++replaced;
            }
        }
    }
    ASSERT_EQ(replaced, 1);
    MemoryLibrary lib;
    ASSERT_TRUE(lib.Load(patched));
    EXPECT_EQ(Export<DwordFn>(lib, "CurrentProcessId")(), GetCurrentProcessId());
    lib.Free();
}

int WINAPI Doubled(int value) { return 2 * value; }

TEST_F(Loader, CallsBackIntoTheProgram) {
    MemoryLibrary lib;
    ASSERT_TRUE(lib.Load(dll_));
    EXPECT_EQ(Export<CallThroughFn>(lib, "CallThrough")(Doubled, 7), 21);
    lib.Free();
}

#if defined(_WIN64)
// A 64-bit image finds its exception handlers through its exception table: a
// 32-bit one has none (its handlers are chained on the stack).
int WINAPI Throws(int value) { throw value; }

TEST_F(Loader, AnExceptionUnwindsThroughTheMappedCode) {
    MemoryLibrary lib;
    ASSERT_TRUE(lib.Load(dll_));
    const auto callThrough = Export<CallThroughFn>(lib, "CallThrough");
    DWORD64 imageBase = 0;
    EXPECT_NE(RtlLookupFunctionEntry(DWORD64(callThrough), &imageBase, nullptr), nullptr);
    EXPECT_EQ(imageBase, lib.BaseAddress());
    int caught = 0;
    try {
        callThrough(Throws, 12);
    } catch (int value) {
        caught = value;
    }
    EXPECT_EQ(caught, 12);
    EXPECT_EQ(callThrough(Doubled, 1), 3);  // and the library still works
    lib.Free();
    EXPECT_EQ(RtlLookupFunctionEntry(DWORD64(callThrough), &imageBase, nullptr), nullptr);
}
#endif

TEST_F(Loader, RefusesShortForeignAndCutImages) {
    MemoryLibrary lib;
    EXPECT_FALSE(lib.Load(Bytes()));
    EXPECT_FALSE(lib.Load(Bytes(dll_.begin(), dll_.begin() + 63)));
    Bytes noMz = dll_;
    noMz[0] = 'X';
    EXPECT_FALSE(lib.Load(noMz));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(dll_.data());
    EXPECT_FALSE(lib.Load(Bytes(dll_.begin(), dll_.begin() + dos->e_lfanew + sizeof(NtHeaders) - 1)));
    // The last section's raw data may end exactly at the end, not one byte past it.
    const auto* nt = NtOf(dll_);
    const auto* s = IMAGE_FIRST_SECTION(nt);
    std::size_t end = 0;
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i)
        end = std::max<std::size_t>(end, s[i].PointerToRawData + s[i].SizeOfRawData);
    ASSERT_LE(end, dll_.size());
    EXPECT_FALSE(lib.Load(Bytes(dll_.begin(), dll_.begin() + end - 1)));
    EXPECT_EQ(lib.BaseAddress(), 0u);
    ASSERT_TRUE(lib.Load(Bytes(dll_.begin(), dll_.begin() + end)));
    lib.Free();
}

TEST_F(Loader, AnEntryPointThatRefusesLeavesNothingMapped) {
    const Bytes refusing = ReadDll("VELMORA_REFUSE_DLL");
    ASSERT_FALSE(refusing.empty());
    RememberAddressSpace();
    MemoryLibrary lib;
    EXPECT_FALSE(lib.Load(refusing));
    EXPECT_EQ(lib.BaseAddress(), 0u);
    EXPECT_TRUE(AddressSpaceAsRemembered());
}

// Loads each damaged copy; a copy that loads must give sound answers.
void LoadDamagedCopies(const Bytes& dll, const char* exported, int copies) {
    const ImageMutator mutator(dll);
    int loaded = 0;
    for (int n = 0; n < copies; ++n) {
        const Bytes broken = mutator.Make(n);
        RememberAddressSpace();
        MemoryLibrary lib;
        if (lib.Load(broken)) {
            ++loaded;
            ExpectInsideImage(lib, lib.FindExport(exported));
            EXPECT_EQ(lib.FindExport("Nothing"), 0u);
            lib.Free();
        } else {
            ASSERT_EQ(lib.BaseAddress(), 0u) << n;
        }
        ASSERT_TRUE(AddressSpaceAsRemembered()) << "copy " << n;
    }
    std::printf("%d of %d damaged copies still loaded\n", loaded, copies);
    const Bytes& sound = mutator.Sound();
    for (std::size_t cut = 0; cut < sound.size(); cut += 7) {
        const Bytes part(sound.begin(), sound.begin() + cut);
        RememberAddressSpace();
        MemoryLibrary lib;
        if (lib.Load(part)) {
            ExpectInsideImage(lib, lib.FindExport(exported));
            lib.Free();
        }
        ASSERT_EQ(lib.BaseAddress(), 0u);
        ASSERT_TRUE(AddressSpaceAsRemembered()) << "cut at " << cut;
    }
}

TEST_F(Loader, DamagedCopiesNeverCrashAndHoldNothingOnceRefusedOrFreed) {
    LoadDamagedCopies(dll_, "Add", 3000);
    const Bytes skinlib = ReadDll("VELMORA_SKINLIB");
    ASSERT_FALSE(skinlib.empty());
    LoadDamagedCopies(skinlib, "Skin_AttachMemory", 3000);
}

// `because`, when given, is part of the reason the loader gives.
void ExpectRefused(const Bytes& image, const char* what, const char* because = "") {
    RememberAddressSpace();
    MemoryLibrary lib;
    const bool loaded = lib.Load(image);
    const std::uintptr_t base = lib.BaseAddress();
    if (loaded) lib.Free();
    // Compared before any failure is reported: reporting one takes memory.
    const ::testing::AssertionResult nothingHeld = AddressSpaceAsRemembered();
    EXPECT_FALSE(loaded) << what;
    EXPECT_EQ(base, 0u) << what;
    EXPECT_TRUE(nothingHeld) << what;
    EXPECT_NE(std::strstr(lib.Refusal(), because), nullptr) << what << ": " << lib.Refusal();
    EXPECT_STRNE(lib.Refusal(), "") << what;
}

TEST_F(Loader, RefusesHeadersThatDoNotFitAndSectionsOverTheHeadersOrEachOther) {
    ASSERT_GE(NtOf(dll_)->FileHeader.NumberOfSections, 2);
    Bytes overHeaders = dll_;
    SectionTable(overHeaders)[1].VirtualAddress = 1;  // one field: a section over the headers
    ExpectRefused(overHeaders, "section at RVA 1");
    Bytes overlapping = dll_;
    SectionTable(overlapping)[1].VirtualAddress = SectionTable(overlapping)[0].VirtualAddress;
    ExpectRefused(overlapping, "two sections at one place");
    Bytes smallHeaders = dll_;
    NtOf(smallHeaders)->OptionalHeader.SizeOfHeaders = 64;  // the NT headers lie past it
    ExpectRefused(smallHeaders, "headers past SizeOfHeaders");
    Bytes tableOutside = dll_;
    NtOf(tableOutside)->OptionalHeader.SizeOfHeaders =
        reinterpret_cast<const IMAGE_DOS_HEADER*>(dll_.data())->e_lfanew + sizeof(NtHeaders) + 8;
    ExpectRefused(tableOutside, "section table past SizeOfHeaders");
}

// The section of an image that holds an RVA.
int SectionHolding(Bytes& dll, std::uint32_t rva) {
    const IMAGE_SECTION_HEADER* s = SectionTable(dll);
    for (int i = 0; i < NtOf(dll)->FileHeader.NumberOfSections; ++i)
        if (rva >= s[i].VirtualAddress && rva < s[i].VirtualAddress + std::max(s[i].Misc.VirtualSize, s[i].SizeOfRawData))
            return i;
    return -1;
}

TEST_F(Loader, RefusesTablesThatLieOutsideReadableSections) {
    Bytes skinlib = ReadDll("VELMORA_SKINLIB");
    ASSERT_FALSE(skinlib.empty());
    const std::uint32_t exportRva = NtOf(skinlib)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress;
    const int exportSection = SectionHolding(skinlib, exportRva);
    ASSERT_GT(exportSection, 0);

    // The export table's section moved down, clear of the page the table
    // lies in: that page is left unreadable. (In the 32-bit library the
    // export table is section 3's, at 0x8000: moved to 0x5C01.)
    Bytes moved = skinlib;
    IMAGE_SECTION_HEADER& edata = SectionTable(moved)[exportSection];
    ASSERT_LT(std::max(edata.Misc.VirtualSize, edata.SizeOfRawData), 0x3FFu);
    edata.VirtualAddress = exportRva == 0x8000 && exportSection == 3 ? 0x5C01 : exportRva - 0x3FF;
    ExpectRefused(moved, "export table's section moved away from it", "export tables");

    // The first section at RVA 0.
    Bytes atZero = skinlib;
    SectionTable(atZero)[0].VirtualAddress = 0;
    ExpectRefused(atZero, "first section at RVA 0", "RVA 0");

    // An exported name in no section at all: between the headers and the first section.
    Bytes lostName = skinlib;
    const std::size_t dir = FileOffset(lostName, exportRva);
    IMAGE_EXPORT_DIRECTORY exports;
    std::memcpy(&exports, &lostName[dir], sizeof exports);
    const std::uint32_t gap = NtOf(lostName)->OptionalHeader.SizeOfHeaders + 0x10;
    ASSERT_LT(gap, SectionTable(lostName)[0].VirtualAddress);
    std::memcpy(&lostName[FileOffset(lostName, exports.AddressOfNames)], &gap, 4);
    ExpectRefused(lostName, "exported name outside every section", "export tables");

    // The export table in a section that can only be run, not read.
    Bytes runOnly = skinlib;
    SectionTable(runOnly)[exportSection].Characteristics = IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_EXECUTE;
    ExpectRefused(runOnly, "export table in a run-only section", "export tables");

    // The import descriptors past the end of their section.
    Bytes lostImports = dll_;
    IMAGE_DATA_DIRECTORY& imports = NtOf(lostImports)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const IMAGE_SECTION_HEADER& idata = SectionTable(lostImports)[SectionHolding(lostImports, imports.VirtualAddress)];
    imports.VirtualAddress = idata.VirtualAddress + std::max(idata.Misc.VirtualSize, idata.SizeOfRawData);
    ExpectRefused(lostImports, "import descriptors past their section", "import tables");
}

TEST_F(Loader, AForwardedExportIsNotAnAddress) {
    // "Add" made to point inside the export table, at a name: a forwarder.
    Bytes forwarding = dll_;
    const IMAGE_DATA_DIRECTORY& dir = NtOf(forwarding)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    IMAGE_EXPORT_DIRECTORY exports;
    std::memcpy(&exports, &forwarding[FileOffset(forwarding, dir.VirtualAddress)], sizeof exports);
    ASSERT_GE(exports.Name, dir.VirtualAddress);
    ASSERT_LT(exports.Name, dir.VirtualAddress + dir.Size);
    int patched = 0;
    for (DWORD i = 0; i < exports.NumberOfNames; ++i) {
        std::uint32_t name;
        std::memcpy(&name, &forwarding[FileOffset(forwarding, exports.AddressOfNames + 4 * i)], 4);
        if (std::strcmp(reinterpret_cast<const char*>(&forwarding[FileOffset(forwarding, name)]), "Add") != 0) continue;
        std::uint16_t ordinal;
        std::memcpy(&ordinal, &forwarding[FileOffset(forwarding, exports.AddressOfNameOrdinals + 2 * i)], 2);
        std::memcpy(&forwarding[FileOffset(forwarding, exports.AddressOfFunctions + 4 * ordinal)], &exports.Name, 4);
        ++patched;
    }
    ASSERT_EQ(patched, 1);
    MemoryLibrary lib;
    ASSERT_TRUE(lib.Load(forwarding));
    EXPECT_EQ(lib.FindExport("Add"), 0u);
    EXPECT_EQ(Export<IntFn>(lib, "Attaches")(), 1);
    lib.Free();
}

TEST_F(Loader, AGrantedLoadHasLinkedEverythingAndProtectsEachSection) {
    MemoryLibrary lib;
    ASSERT_TRUE(lib.Load(dll_));
    const std::uintptr_t base = lib.BaseAddress();
    const auto protection = [](std::uintptr_t address) {
        MEMORY_BASIC_INFORMATION info;
        VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info);
        return info.Protect;
    };
    EXPECT_EQ(protection(base), DWORD(PAGE_READONLY));  // the headers
    const auto* nt = NtOf(dll_);
    const auto* s = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i) {
        const DWORD c = s[i].Characteristics;
        const bool x = c & IMAGE_SCN_MEM_EXECUTE, w = c & IMAGE_SCN_MEM_WRITE;
        const DWORD expected = x ? (w ? PAGE_EXECUTE_READWRITE : PAGE_EXECUTE_READ) : (w ? PAGE_READWRITE : PAGE_READONLY);
        EXPECT_EQ(protection(base + s[i].VirtualAddress), expected) << reinterpret_cast<const char*>(s[i].Name);
        EXPECT_FALSE(x && w) << "our DLL has no writable code";
    }
    // The code still runs and its data is still written.
    EXPECT_EQ(Export<AddFn>(lib, "Add")(2, 40), 42);
    *Export<PtrFn>(lib, "ValueAddress")() = 9;
    EXPECT_EQ(*Export<PtrFn>(lib, "ValueAddress")(), 9);
    lib.Free();
}

// ---- images made here -------------------------------------------------------------

// One data section of two pages holding two addresses to relocate, one at the
// first byte of a page and one straddling its last byte, and a relocation
// block of fillers only.
constexpr std::uint32_t kMadeBase = 0x64000000;
constexpr std::uint32_t kSection = 0x1000, kRelocs = 0x2800;
constexpr std::uint32_t kMadeSize = 0x3000;
#if defined(_WIN64)
constexpr WORD kOwnRelocation = IMAGE_REL_BASED_DIR64, kForeignRelocation = IMAGE_REL_BASED_HIGHLOW;
#else
constexpr WORD kOwnRelocation = IMAGE_REL_BASED_HIGHLOW, kForeignRelocation = IMAGE_REL_BASED_DIR64;
#endif

std::size_t MadeFile(std::uint32_t rva) { return 0x200 + (rva - kSection); }

template <typename T>
void Put(Bytes& image, std::size_t at, T value) {
    std::memcpy(&image[at], &value, sizeof value);
}

Bytes MadeImage() {
    Bytes image(0x200 + 0x2000, 0);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(image.data());
    dos->e_magic = IMAGE_DOS_SIGNATURE;
    dos->e_lfanew = 0x40;
    auto* nt = reinterpret_cast<NtHeaders*>(image.data() + 0x40);
    nt->Signature = IMAGE_NT_SIGNATURE;
#if defined(_WIN64)
    nt->FileHeader.Machine = IMAGE_FILE_MACHINE_AMD64;
    nt->FileHeader.Characteristics = IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_LARGE_ADDRESS_AWARE | IMAGE_FILE_DLL;
#else
    nt->FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
    nt->FileHeader.Characteristics = IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_32BIT_MACHINE | IMAGE_FILE_DLL;
#endif
    nt->FileHeader.NumberOfSections = 1;
    nt->FileHeader.SizeOfOptionalHeader = sizeof nt->OptionalHeader;
    auto& opt = nt->OptionalHeader;
    opt.Magic = IMAGE_NT_OPTIONAL_HDR_MAGIC;
    opt.ImageBase = kMadeBase;
    opt.SectionAlignment = 0x1000;
    opt.FileAlignment = 0x200;
    opt.SizeOfImage = kMadeSize;
    opt.SizeOfHeaders = 0x200;
    opt.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC] = {kRelocs, 24};
    auto* section = IMAGE_FIRST_SECTION(nt);
    std::memcpy(section->Name, ".data", 5);
    section->Misc.VirtualSize = 0x2000;
    section->VirtualAddress = kSection;
    section->SizeOfRawData = 0x2000;
    section->PointerToRawData = 0x200;
    section->Characteristics = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE;
    Put<Thunk>(image, MadeFile(0x1000), kMadeBase + 0x1100);
    Put<Thunk>(image, MadeFile(0x1FFF), kMadeBase + 0x1200);
    Put<Thunk>(image, MadeFile(0x2000 + 0x10), kMadeBase + 0x1300);  // only named by fillers: stays
    // Block 1: addresses at offsets 0 and 0xFFF of the first page.
    Put<std::uint32_t>(image, MadeFile(kRelocs), 0x1000);
    Put<std::uint32_t>(image, MadeFile(kRelocs + 4), 12);
    Put<std::uint16_t>(image, MadeFile(kRelocs + 8), (kOwnRelocation << 12) | 0x000);
    Put<std::uint16_t>(image, MadeFile(kRelocs + 10), (kOwnRelocation << 12) | 0xFFF);
    // Block 2: fillers only.
    Put<std::uint32_t>(image, MadeFile(kRelocs + 12), 0x2000);
    Put<std::uint32_t>(image, MadeFile(kRelocs + 16), 12);
    Put<std::uint16_t>(image, MadeFile(kRelocs + 20), (IMAGE_REL_BASED_ABSOLUTE << 12) | 0x010);
    Put<std::uint16_t>(image, MadeFile(kRelocs + 22), 0);
    return image;
}

NtHeaders* MadeNt(Bytes& image) { return reinterpret_cast<NtHeaders*>(image.data() + 0x40); }

// An import of one function by name, laid out in the data section.
constexpr std::uint32_t kImports = 0x1400, kImportSlot = 0x1480;
Bytes WithImport(const char* library, const char* function) {
    Bytes image = MadeImage();
    Put<std::uint32_t>(image, MadeFile(kImports + 12), kImports + 0x40);  // Name
    Put<std::uint32_t>(image, MadeFile(kImports + 16), kImportSlot);      // FirstThunk
    std::memcpy(&image[MadeFile(kImports + 0x40)], library, std::strlen(library));
    std::memcpy(&image[MadeFile(kImports + 0x62)], function, std::strlen(function));  // after the hint
    Put<Thunk>(image, MadeFile(kImportSlot), kImports + 0x60);
    MadeNt(image)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT] = {kImports, 40};
    return image;
}

// A TLS directory whose list of callbacks holds one, or is empty.
Bytes WithTls(bool callback) {
    Bytes image = MadeImage();
    IMAGE_TLS_DIRECTORY tls = {};
    tls.AddressOfCallBacks = kMadeBase + 0x1700;
    std::memcpy(&image[MadeFile(0x1600)], &tls, sizeof tls);
    if (callback) Put<Thunk>(image, MadeFile(0x1700), kMadeBase + 0x1800);
    MadeNt(image)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS] = {0x1600, sizeof tls};
    return image;
}

TEST(MadeImage, RelocatesPageEdgesAtThePreferredBaseAndElsewhere) {
    const Bytes image = MadeImage();
    bool free;
    {
        const Reservation probe(kMadeBase, kMadeSize);
        free = probe.held();
    }
    if (free) {
        MemoryLibrary atHome;
        ASSERT_TRUE(atHome.Load(image));
        ASSERT_EQ(atHome.BaseAddress(), kMadeBase);
        EXPECT_EQ(Read<Thunk>(kMadeBase + 0x1000), kMadeBase + 0x1100);
        EXPECT_EQ(Read<Thunk>(kMadeBase + 0x1FFF), kMadeBase + 0x1200);
        atHome.Free();
    }

    // With the preferred range taken, the image goes elsewhere and is patched.
    const Reservation taken(kMadeBase, kMadeSize);
    MemoryLibrary moved;
    ASSERT_TRUE(moved.Load(image));
    const std::uintptr_t base = moved.BaseAddress();
    ASSERT_NE(base, kMadeBase);
    EXPECT_EQ(Read<Thunk>(base + 0x1000), base + 0x1100);
    EXPECT_EQ(Read<Thunk>(base + 0x1FFF), base + 0x1200);
    EXPECT_EQ(Read<Thunk>(base + 0x2010), kMadeBase + 0x1300);
    moved.Free();
}

TEST(MadeImage, RefusesWhatItCannotPlaceOrPatch) {
    // Without relocations, only the preferred base will do; unless the
    // image says it may move, having nothing to patch (as a 64-bit image
    // whose code reaches its data relative to itself may).
    Bytes fixed = MadeImage();
    MadeNt(fixed)->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC] = {0, 0};
    Bytes movable = fixed;
    MadeNt(movable)->OptionalHeader.DllCharacteristics = IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE;
    Bytes stripped = movable;
    MadeNt(stripped)->FileHeader.Characteristics |= IMAGE_FILE_RELOCS_STRIPPED;
    {
        const Reservation taken(kMadeBase, kMadeSize);
        ExpectRefused(fixed, "no relocations, preferred base taken", "preferred base");
        ExpectRefused(stripped, "relocations stripped, preferred base taken", "preferred base");
        MemoryLibrary elsewhere;
        ASSERT_TRUE(elsewhere.Load(movable));
        EXPECT_NE(elsewhere.BaseAddress(), kMadeBase);
        elsewhere.Free();
    }
    bool free;
    {
        const Reservation probe(kMadeBase, kMadeSize);
        free = probe.held();
    }
    if (free) {
        MemoryLibrary home;
        ASSERT_TRUE(home.Load(fixed));
        EXPECT_EQ(home.BaseAddress(), kMadeBase);
        home.Free();
    }

    // A relocation of a kind that is not this process's.
    for (WORD type : {kForeignRelocation, WORD(IMAGE_REL_BASED_HIGH), WORD(IMAGE_REL_BASED_LOW), WORD(7)}) {
        Bytes foreign = MadeImage();
        Put<std::uint16_t>(foreign, MadeFile(kRelocs + 10), (type << 12) | 0x800);
        ExpectRefused(foreign, ("relocation type " + std::to_string(type)).c_str(), "type");
    }
}

TEST(MadeImage, RefusesTlsCallbacksAndASectionAtRvaZero) {
    ExpectRefused(WithTls(true), "a TLS callback", "TLS callbacks, which this loader does not run");
    MemoryLibrary lib;
    EXPECT_TRUE(lib.Load(WithTls(false)));  // thread data without callbacks: nothing to run
    lib.Free();

    // A second section at RVA 0, after one that maps.
    Bytes zero = MadeImage();
    zero.resize(zero.size() + 0x200, 0xCC);
    auto* nt = MadeNt(zero);
    nt->FileHeader.NumberOfSections = 2;
    IMAGE_SECTION_HEADER& second = IMAGE_FIRST_SECTION(nt)[1];
    std::memcpy(second.Name, ".late", 5);
    second.VirtualAddress = 0;
    second.Misc.VirtualSize = second.SizeOfRawData = 0x200;
    second.PointerToRawData = 0x200 + 0x2000;
    second.Characteristics = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ;
    ExpectRefused(zero, "a section at RVA 0", "RVA 0");
}

TEST(MadeImage, ImportsComeFromTheSystemFolderOnly) {
    MemoryLibrary lib;
    ASSERT_TRUE(lib.Load(WithImport("KERNEL32.dll", "GetCurrentProcessId")));
    EXPECT_EQ(Read<Thunk>(lib.BaseAddress() + kImportSlot),
              reinterpret_cast<Thunk>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetCurrentProcessId")));
    lib.Free();
    // The recorder DLL lies beside this program, and only there.
    ExpectRefused(WithImport("skin_recorder.dll", "Add"), "a DLL from the program's folder", "system folder");
    EXPECT_EQ(GetModuleHandleW(L"skin_recorder.dll"), nullptr);
    ExpectRefused(WithImport("..\\tests\\skin_recorder.dll", "Add"), "a path", "system folder");
}

TEST(MadeImage, RefusesBrokenSignaturesAndEntryPointsOutsideTheImage) {
    MemoryLibrary lib;
    EXPECT_EQ(lib.FindExport("Anything"), 0u);  // empty instance
    Bytes noPe = MadeImage();
    noPe[0x40] = 'Q';
    EXPECT_FALSE(lib.Load(noPe));
    Bytes farEntry = MadeImage();
    MadeNt(farEntry)->OptionalHeader.AddressOfEntryPoint = kMadeSize;  // one past the image
    EXPECT_FALSE(lib.Load(farEntry));
    MadeNt(farEntry)->OptionalHeader.AddressOfEntryPoint = 0x7FFFFFF0;
    EXPECT_FALSE(lib.Load(farEntry));
    // A relocation block that claims to run past its directory.
    Bytes longBlock = MadeImage();
    Put<std::uint32_t>(longBlock, MadeFile(kRelocs + 4), 400);
    EXPECT_FALSE(lib.Load(longBlock));
    EXPECT_EQ(lib.BaseAddress(), 0u);
    EXPECT_EQ(lib.FindExport("Anything"), 0u);
}

TEST(MadeImage, RefusesTheOtherArchitecturesImages) {
    Bytes machine = MadeImage();
    MadeNt(machine)->FileHeader.Machine =
        MadeNt(machine)->FileHeader.Machine == IMAGE_FILE_MACHINE_I386 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
    ExpectRefused(machine, "the other machine", "another kind");
    Bytes magic = MadeImage();
    MadeNt(magic)->OptionalHeader.Magic = MadeNt(magic)->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC
                                              ? IMAGE_NT_OPTIONAL_HDR64_MAGIC
                                              : IMAGE_NT_OPTIONAL_HDR32_MAGIC;
    ExpectRefused(magic, "the other optional header", "another kind");
}

TEST(MadeImage, EachSectionGetsTheAccessItAsksFor) {
    // A code section beside the data section; neither is run here.
    Bytes image = MadeImage();
    image.resize(image.size() + 0x200, 0xC3);
    auto* nt = MadeNt(image);
    nt->FileHeader.NumberOfSections = 2;
    auto* code = IMAGE_FIRST_SECTION(nt) + 1;
    std::memcpy(code->Name, ".text", 5);
    code->VirtualAddress = 0x3000;
    code->Misc.VirtualSize = code->SizeOfRawData = 0x200;
    code->PointerToRawData = 0x200 + 0x2000;
    code->Characteristics = IMAGE_SCN_CNT_CODE | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_EXECUTE;
    MemoryLibrary lib;
    ASSERT_TRUE(lib.Load(image));
    const auto protection = [&](std::uint32_t rva) {
        MEMORY_BASIC_INFORMATION info;
        VirtualQuery(reinterpret_cast<void*>(lib.BaseAddress() + rva), &info, sizeof info);
        return info.Protect;
    };
    EXPECT_EQ(protection(0), DWORD(PAGE_READONLY));
    EXPECT_EQ(protection(0x1000), DWORD(PAGE_READWRITE));
    EXPECT_EQ(protection(0x2000), DWORD(PAGE_READWRITE));
    EXPECT_EQ(protection(0x3000), DWORD(PAGE_EXECUTE_READ));
    // Relocated through the writable data section before it was protected.
    EXPECT_EQ(Read<Thunk>(lib.BaseAddress() + 0x1000), lib.BaseAddress() + 0x1100);
    lib.Free();
}

TEST(MadeImage, HeadersMustFitTheirSizeAndSectionsMustNotOverlap) {
    Bytes small = MadeImage();
    MadeNt(small)->OptionalHeader.SizeOfHeaders = 0x100;
    ExpectRefused(small, "the section table ends past SizeOfHeaders");
    Bytes overHeaders = MadeImage();
    IMAGE_FIRST_SECTION(MadeNt(overHeaders))->VirtualAddress = 1;
    ExpectRefused(overHeaders, "a section over the headers");
    Bytes twice = MadeImage();
    auto* nt = MadeNt(twice);
    nt->FileHeader.NumberOfSections = 2;
    IMAGE_FIRST_SECTION(nt)[1] = IMAGE_FIRST_SECTION(nt)[0];
    IMAGE_FIRST_SECTION(nt)[1].VirtualAddress += 0x1000;  // over the first one's second page
    ExpectRefused(twice, "two sections over one page");
}

TEST(MadeImage, ASectionThatRewritesTheHeadersIsNeverEntered) {
    // Checked headers with no entry point; a second section lays other NT
    // headers over them once mapped, with an entry point far outside.
    Bytes image = MadeImage();
    auto* nt = MadeNt(image);
    nt->FileHeader.NumberOfSections = 2;
    auto* rewrite = IMAGE_FIRST_SECTION(nt) + 1;
    std::memcpy(rewrite->Name, ".hdr", 4);
    rewrite->VirtualAddress = 0x40;
    rewrite->Misc.VirtualSize = rewrite->SizeOfRawData = sizeof(NtHeaders);
    rewrite->PointerToRawData = std::uint32_t(image.size());
    NtHeaders forged = *nt;
    forged.OptionalHeader.AddressOfEntryPoint = 0x7FFFFFF0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&forged);
    image.insert(image.end(), bytes, bytes + sizeof forged);
    ExpectRefused(image, "a section over the headers");
}

}  // namespace
