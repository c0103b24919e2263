// MemoryLibrary against DLLs of our own, and against damaged copies of them.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

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

const IMAGE_NT_HEADERS32* Nt(const Bytes& dll) {
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(dll.data());
    return reinterpret_cast<const IMAGE_NT_HEADERS32*>(dll.data() + dos->e_lfanew);
}

// The file offset of an RVA.
std::size_t FileOffset(const Bytes& dll, std::uint32_t rva) {
    const auto* nt = Nt(dll);
    const auto* s = IMAGE_FIRST_SECTION(nt);
    for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++s)
        if (rva >= s->VirtualAddress && rva < s->VirtualAddress + s->SizeOfRawData)
            return s->PointerToRawData + (rva - s->VirtualAddress);
    return 0;
}

// Nothing of ours is mapped at an address (the preferred base of an image
// that was refused, or freed).
bool NothingHeldAt(std::uintptr_t address) {
    MEMORY_BASIC_INFORMATION info;
    return VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) && info.State == MEM_FREE;
}

void ExpectInsideImage(const MemoryLibrary& lib, std::uintptr_t address) {
    if (address == 0) return;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(lib.BaseAddress());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(lib.BaseAddress() + dos->e_lfanew);
    EXPECT_GE(address, lib.BaseAddress());
    EXPECT_LT(address, lib.BaseAddress() + nt->OptionalHeader.SizeOfImage);
}

class Loader : public ::testing::Test {
protected:
    void SetUp() override {
        dll_ = ReadDll("VELMORA_LOADER_DLL");
        if (dll_.empty()) GTEST_SKIP() << "VELMORA_LOADER_DLL names the test DLL";
        preferred_ = Nt(dll_)->OptionalHeader.ImageBase;
        ASSERT_TRUE(NothingHeldAt(preferred_));
    }
    Bytes dll_;
    std::uintptr_t preferred_ = 0;
};

TEST_F(Loader, MapsLinksStartsAndFindsExports) {
    MemoryLibrary lib;
    ASSERT_TRUE(lib.Load(dll_));
    ASSERT_NE(lib.BaseAddress(), 0u);
    EXPECT_EQ(lib.EntryAddress(), lib.BaseAddress() + Nt(dll_)->OptionalHeader.AddressOfEntryPoint);
    EXPECT_EQ(Export<AddFn>(lib, "Add")(2, 40), 42);
    EXPECT_EQ(Export<IntFn>(lib, "Attaches")(), 1);
    EXPECT_EQ(Export<IntFn>(lib, "HandleWasZero")(), 1);
    // Global data is reached through relocated addresses inside the image.
    int* value = Export<PtrFn>(lib, "ValueAddress")();
    EXPECT_GT(reinterpret_cast<std::uintptr_t>(value), lib.BaseAddress());
    EXPECT_EQ(*value, 5);
    EXPECT_EQ(Export<DwordFn>(lib, "CurrentProcessId")(), GetCurrentProcessId());
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
}

TEST_F(Loader, RelocatesWhenThePreferredBaseIsTaken) {
    MemoryLibrary first, second;
    ASSERT_TRUE(first.Load(dll_));
    ASSERT_TRUE(second.Load(dll_));
    EXPECT_EQ(first.BaseAddress(), Nt(dll_)->OptionalHeader.ImageBase);
    EXPECT_NE(second.BaseAddress(), first.BaseAddress());
    int* a = Export<PtrFn>(first, "ValueAddress")();
    int* b = Export<PtrFn>(second, "ValueAddress")();
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b) - second.BaseAddress(),
              reinterpret_cast<std::uintptr_t>(a) - first.BaseAddress());
    *b = 9;
    EXPECT_EQ(*a, 5);
    first.Free();
    second.Free();
}

TEST_F(Loader, ResolvesAnImportGivenByOrdinal) {
    // Turn the by-name thunk of GetCurrentProcessId into KERNEL32's ordinal for it.
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    const auto* kdos = reinterpret_cast<const IMAGE_DOS_HEADER*>(kernel);
    const auto* knt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(reinterpret_cast<const BYTE*>(kernel) + kdos->e_lfanew);
    const auto* kexp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(
        reinterpret_cast<const BYTE*>(kernel) + knt->OptionalHeader.DataDirectory[0].VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(reinterpret_cast<const BYTE*>(kernel) + kexp->AddressOfNames);
    const auto* ords = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(kernel) + kexp->AddressOfNameOrdinals);
    DWORD ordinal = 0;
    for (DWORD i = 0; i < kexp->NumberOfNames; ++i)
        if (!std::strcmp(reinterpret_cast<const char*>(kernel) + names[i], "GetCurrentProcessId"))
            ordinal = kexp->Base + ords[i];
    ASSERT_NE(ordinal, 0u);

    Bytes patched = dll_;
    const auto* nt = Nt(patched);
    std::size_t desc = FileOffset(patched, nt->OptionalHeader.DataDirectory[1].VirtualAddress);
    int replaced = 0;
    for (IMAGE_IMPORT_DESCRIPTOR d; std::memcpy(&d, &patched[desc], sizeof d), d.FirstThunk; desc += sizeof d) {
        for (std::size_t slot = FileOffset(patched, d.FirstThunk);; slot += 4) {
            DWORD v;
            std::memcpy(&v, &patched[slot], 4);
            if (!v) break;
            if (!(v & IMAGE_ORDINAL_FLAG32) &&
                !std::strcmp(reinterpret_cast<const char*>(&patched[FileOffset(patched, v) + 2]), "GetCurrentProcessId")) {
                v = IMAGE_ORDINAL_FLAG32 | ordinal;
                std::memcpy(&patched[slot], &v, 4);
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

TEST_F(Loader, RefusesShortForeignAndCutImages) {
    MemoryLibrary lib;
    EXPECT_FALSE(lib.Load(Bytes()));
    EXPECT_FALSE(lib.Load(Bytes(dll_.begin(), dll_.begin() + 63)));
    Bytes noMz = dll_;
    noMz[0] = 'X';
    EXPECT_FALSE(lib.Load(noMz));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(dll_.data());
    EXPECT_FALSE(lib.Load(Bytes(dll_.begin(), dll_.begin() + dos->e_lfanew + 247)));
    // The last section's raw data may end exactly at the end, not one byte past it.
    const auto* nt = Nt(dll_);
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
    // The range the image would take: as it was before, afterwards.
    void* preferred = reinterpret_cast<void*>(std::uintptr_t(Nt(refusing)->OptionalHeader.ImageBase));
    MEMORY_BASIC_INFORMATION before, after;
    VirtualQuery(preferred, &before, sizeof before);
    MemoryLibrary lib;
    EXPECT_FALSE(lib.Load(refusing));
    EXPECT_EQ(lib.BaseAddress(), 0u);
    VirtualQuery(preferred, &after, sizeof after);
    EXPECT_EQ(after.State, before.State);
    EXPECT_EQ(after.AllocationBase, before.AllocationBase);
}

TEST_F(Loader, DamagedHeadersAndTablesNeverCrash) {
    // Bytes of the headers, the section table and the data directories'
    // tables. The loader vets the format, not the code: with its entry point
    // taken out, no damaged code runs, and only the loader's own walks are
    // exercised (a flipped image base or relocation would otherwise make
    // sound code run at the wrong addresses).
    auto* ntw = reinterpret_cast<IMAGE_NT_HEADERS32*>(dll_.data() + reinterpret_cast<IMAGE_DOS_HEADER*>(dll_.data())->e_lfanew);
    ntw->OptionalHeader.AddressOfEntryPoint = 0;
    const std::size_t entryField = reinterpret_cast<std::uint8_t*>(&ntw->OptionalHeader.AddressOfEntryPoint) - dll_.data();
    const auto* nt = Nt(dll_);
    std::vector<std::pair<std::size_t, std::size_t>> regions = {{0, nt->OptionalHeader.SizeOfHeaders}};
    for (int d : {0, 1, 5}) {
        const auto& dir = nt->OptionalHeader.DataDirectory[d];
        if (dir.Size) regions.push_back({FileOffset(dll_, dir.VirtualAddress), dir.Size});
    }
    std::mt19937 rnd(11);
    int loaded = 0;
    for (int n = 0; n < 3000; ++n) {
        Bytes broken = dll_;
        const auto& [from, len] = regions[n % regions.size()];
        for (int k = 0; k < 1 + n % 3; ++k) {
            const std::size_t at = from + rnd() % len;
            if (at < entryField || at >= entryField + 4) broken[at] ^= std::uint8_t(1u << (rnd() % 8));
        }
        MemoryLibrary lib;
        if (lib.Load(broken)) {
            ++loaded;
            ExpectInsideImage(lib, lib.FindExport("Add"));
            EXPECT_EQ(lib.FindExport("Nothing"), 0u);
            lib.Free();
        } else {
            ASSERT_EQ(lib.BaseAddress(), 0u) << n;
        }
        ASSERT_TRUE(NothingHeldAt(preferred_)) << n;
    }
    std::printf("%d of 3000 damaged images still loaded\n", loaded);
    for (std::size_t cut = 0; cut < dll_.size(); cut += 7) {
        MemoryLibrary lib;
        if (lib.Load(Bytes(dll_.begin(), dll_.begin() + cut))) {
            ExpectInsideImage(lib, lib.FindExport("Add"));
            lib.Free();
        }
        ASSERT_EQ(lib.BaseAddress(), 0u);
        ASSERT_TRUE(NothingHeldAt(preferred_)) << cut;
    }
}

// Where a section of the test DLL starts in the file's section table.
IMAGE_SECTION_HEADER* SectionTable(Bytes& dll) {
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(dll.data() + reinterpret_cast<IMAGE_DOS_HEADER*>(dll.data())->e_lfanew);
    return IMAGE_FIRST_SECTION(nt);
}

IMAGE_NT_HEADERS32* NtOf(Bytes& dll) {
    return reinterpret_cast<IMAGE_NT_HEADERS32*>(dll.data() + reinterpret_cast<IMAGE_DOS_HEADER*>(dll.data())->e_lfanew);
}

TEST_F(Loader, RefusesHeadersThatDoNotFitAndSectionsOverTheHeadersOrEachOther) {
    ASSERT_GE(Nt(dll_)->FileHeader.NumberOfSections, 2);
    const auto expectRefused = [&](const Bytes& image, const char* what) {
        MemoryLibrary lib;
        EXPECT_FALSE(lib.Load(image)) << what;
        EXPECT_EQ(lib.BaseAddress(), 0u) << what;
        EXPECT_TRUE(NothingHeldAt(preferred_)) << what;
    };
    Bytes overHeaders = dll_;
    SectionTable(overHeaders)[1].VirtualAddress = 1;  // one field: a section over the headers
    expectRefused(overHeaders, "section at RVA 1");
    Bytes overlapping = dll_;
    SectionTable(overlapping)[1].VirtualAddress = SectionTable(overlapping)[0].VirtualAddress;
    expectRefused(overlapping, "two sections at one place");
    Bytes smallHeaders = dll_;
    NtOf(smallHeaders)->OptionalHeader.SizeOfHeaders = 64;  // the NT headers lie past it
    expectRefused(smallHeaders, "headers past SizeOfHeaders");
    Bytes tableOutside = dll_;
    NtOf(tableOutside)->OptionalHeader.SizeOfHeaders =
        reinterpret_cast<const IMAGE_DOS_HEADER*>(dll_.data())->e_lfanew + sizeof(IMAGE_NT_HEADERS32) + 8;
    expectRefused(tableOutside, "section table past SizeOfHeaders");
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
    const auto* nt = Nt(dll_);
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

// A hand-made image: one data section of two pages holding two addresses to
// relocate, one at the first byte of a page and one straddling its last byte,
// and a relocation block of fillers only.
constexpr std::uint32_t kMadeBase = 0x64000000;
constexpr std::uint32_t kSection = 0x1000, kRelocs = 0x2800;

Bytes MadeImage() {
    Bytes image(0x200 + 0x2000, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&image[at], &v, 4); };
    auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(&image[at], &v, 2); };
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(image.data());
    dos->e_magic = IMAGE_DOS_SIGNATURE;
    dos->e_lfanew = 0x40;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(image.data() + 0x40);
    nt->Signature = IMAGE_NT_SIGNATURE;
    nt->FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
    nt->FileHeader.NumberOfSections = 1;
    nt->FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER32);
    nt->FileHeader.Characteristics = IMAGE_FILE_EXECUTABLE_IMAGE | IMAGE_FILE_32BIT_MACHINE | IMAGE_FILE_DLL;
    auto& opt = nt->OptionalHeader;
    opt.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
    opt.ImageBase = kMadeBase;
    opt.SectionAlignment = 0x1000;
    opt.FileAlignment = 0x200;
    opt.SizeOfImage = 0x3000;
    opt.SizeOfHeaders = 0x200;
    opt.NumberOfRvaAndSizes = IMAGE_NUMBEROF_DIRECTORY_ENTRIES;
    opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC] = {kRelocs, 24};
    auto* section = IMAGE_FIRST_SECTION(nt);
    std::memcpy(section->Name, ".data", 5);
    section->Misc.VirtualSize = 0x2000;
    section->VirtualAddress = kSection;
    section->SizeOfRawData = 0x2000;
    section->PointerToRawData = 0x200;
    auto file = [](std::uint32_t rva) { return 0x200 + (rva - kSection); };
    put32(file(0x1000), kMadeBase + 0x1100);
    put32(file(0x1FFF), kMadeBase + 0x1200);
    put32(file(0x2000 + 0x10), kMadeBase + 0x1300);  // only named by fillers: stays
    // Block 1: HIGHLOW at offsets 0 and 0xFFF of the first page.
    put32(file(kRelocs), 0x1000);
    put32(file(kRelocs + 4), 12);
    put16(file(kRelocs + 8), (IMAGE_REL_BASED_HIGHLOW << 12) | 0x000);
    put16(file(kRelocs + 10), (IMAGE_REL_BASED_HIGHLOW << 12) | 0xFFF);
    // Block 2: fillers only.
    put32(file(kRelocs + 12), 0x2000);
    put32(file(kRelocs + 16), 12);
    put16(file(kRelocs + 20), (IMAGE_REL_BASED_ABSOLUTE << 12) | 0x010);
    put16(file(kRelocs + 22), 0);
    return image;
}

std::uint32_t Read32(std::uintptr_t address) {
    std::uint32_t v;
    std::memcpy(&v, reinterpret_cast<const void*>(address), 4);
    return v;
}

TEST(MadeImage, RelocatesPageEdgesAtThePreferredBaseAndElsewhere) {
    const Bytes image = MadeImage();
    MemoryLibrary atHome;
    ASSERT_TRUE(atHome.Load(image));
    ASSERT_EQ(atHome.BaseAddress(), kMadeBase);
    EXPECT_EQ(Read32(kMadeBase + 0x1000), kMadeBase + 0x1100);
    EXPECT_EQ(Read32(kMadeBase + 0x1FFF), kMadeBase + 0x1200);
    atHome.Free();

    // With the preferred range taken, the image goes elsewhere and is patched.
    void* taken = VirtualAlloc(reinterpret_cast<void*>(std::uintptr_t(kMadeBase)), 0x3000, MEM_RESERVE, PAGE_NOACCESS);
    ASSERT_EQ(taken, reinterpret_cast<void*>(std::uintptr_t(kMadeBase)));
    MemoryLibrary moved;
    ASSERT_TRUE(moved.Load(image));
    const std::uintptr_t base = moved.BaseAddress();
    ASSERT_NE(base, kMadeBase);
    EXPECT_EQ(Read32(base + 0x1000), base + 0x1100);
    EXPECT_EQ(Read32(base + 0x1FFF), base + 0x1200);
    EXPECT_EQ(Read32(base + 0x2010), kMadeBase + 0x1300);
    moved.Free();
    VirtualFree(taken, 0, MEM_RELEASE);
}

TEST(MadeImage, RefusesBrokenSignaturesAndEntryPointsOutsideTheImage) {
    MemoryLibrary lib;
    EXPECT_EQ(lib.FindExport("Anything"), 0u);  // empty instance
    Bytes noPe = MadeImage();
    noPe[0x40] = 'Q';
    EXPECT_FALSE(lib.Load(noPe));
    Bytes farEntry = MadeImage();
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(farEntry.data() + 0x40);
    nt->OptionalHeader.AddressOfEntryPoint = 0x3000;  // one past the image
    EXPECT_FALSE(lib.Load(farEntry));
    nt->OptionalHeader.AddressOfEntryPoint = 0x7FFFFFF0;
    EXPECT_FALSE(lib.Load(farEntry));
    // A relocation block that claims to run past its directory.
    Bytes longBlock = MadeImage();
    const std::uint32_t tooLong = 400;
    std::memcpy(&longBlock[0x200 + (kRelocs + 4 - kSection)], &tooLong, 4);
    EXPECT_FALSE(lib.Load(longBlock));
    EXPECT_EQ(lib.BaseAddress(), 0u);
    EXPECT_EQ(lib.FindExport("Anything"), 0u);
}

TEST(MadeImage, EachSectionGetsTheAccessItAsksFor) {
    // A code section beside the data section; neither is run here.
    Bytes image = MadeImage();
    image.resize(image.size() + 0x200, 0xC3);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(image.data() + 0x40);
    nt->FileHeader.NumberOfSections = 2;
    auto* data = IMAGE_FIRST_SECTION(nt);
    data->Characteristics = IMAGE_SCN_CNT_INITIALIZED_DATA | IMAGE_SCN_MEM_READ | IMAGE_SCN_MEM_WRITE;
    auto* code = data + 1;
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
    EXPECT_EQ(Read32(lib.BaseAddress() + 0x1000), lib.BaseAddress() + 0x1100);
    lib.Free();
}

TEST(MadeImage, HeadersMustFitTheirSizeAndSectionsMustNotOverlap) {
    const auto refused = [](const Bytes& image) {
        MemoryLibrary lib;
        const bool loaded = lib.Load(image);
        if (loaded) lib.Free();
        return !loaded && lib.BaseAddress() == 0;
    };
    Bytes small = MadeImage();
    reinterpret_cast<IMAGE_NT_HEADERS32*>(small.data() + 0x40)->OptionalHeader.SizeOfHeaders = 0x100;
    EXPECT_TRUE(refused(small));  // the section table ends at 0x160
    Bytes overHeaders = MadeImage();
    IMAGE_FIRST_SECTION(reinterpret_cast<IMAGE_NT_HEADERS32*>(overHeaders.data() + 0x40))->VirtualAddress = 1;
    EXPECT_TRUE(refused(overHeaders));
    Bytes twice = MadeImage();
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(twice.data() + 0x40);
    nt->FileHeader.NumberOfSections = 2;
    IMAGE_FIRST_SECTION(nt)[1] = IMAGE_FIRST_SECTION(nt)[0];
    IMAGE_FIRST_SECTION(nt)[1].VirtualAddress += 0x1000;  // over the first one's second page
    EXPECT_TRUE(refused(twice));
    EXPECT_TRUE(NothingHeldAt(kMadeBase));
}

TEST(MadeImage, ASectionThatRewritesTheHeadersIsNeverEntered) {
    // Checked headers with no entry point; a second section lays other NT
    // headers over them once mapped, with an entry point far outside.
    Bytes image = MadeImage();
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(image.data() + 0x40);
    nt->FileHeader.NumberOfSections = 2;
    auto* rewrite = IMAGE_FIRST_SECTION(nt) + 1;
    std::memcpy(rewrite->Name, ".hdr", 4);
    rewrite->VirtualAddress = 0x40;
    rewrite->Misc.VirtualSize = rewrite->SizeOfRawData = sizeof(IMAGE_NT_HEADERS32);
    rewrite->PointerToRawData = std::uint32_t(image.size());
    IMAGE_NT_HEADERS32 forged = *nt;
    forged.OptionalHeader.AddressOfEntryPoint = 0x7FFFFFF0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&forged);
    image.insert(image.end(), bytes, bytes + sizeof forged);
    MemoryLibrary lib;
    EXPECT_FALSE(lib.Load(image));
    EXPECT_EQ(lib.BaseAddress(), 0u);
    EXPECT_TRUE(NothingHeldAt(kMadeBase));
}

}  // namespace
