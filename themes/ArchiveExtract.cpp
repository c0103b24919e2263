#include "themes/ArchiveExtract.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

// unzip.h first: iowin32.h needs the zlib declarations it brings.
#include <unzip.h>
#include <iowin32.h>

#include "runtime/Encoding.h"
#include "runtime/FileUtil.h"
#include "runtime/ScopedHandle.h"

namespace {

constexpr int kChunk = 16384;
constexpr unsigned kMaxNameBytes = 259;
constexpr DWORD kDosDirectory = 0x10;
constexpr unsigned kUnixHost = 3;

struct ZipHandleTraits {
    static unzFile Invalid() { return nullptr; }
    static void Close(unzFile z) { unzClose(z); }
};
using ScopedZip = ScopedResource<unzFile, ZipHandleTraits>;

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Creates every missing level of the path, left to right.
bool CreateLevels(std::wstring path) {
    if (path.empty()) return false;
    if (path.back() != L'\\') path += L'\\';
    for (std::size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        const std::wstring level = path.substr(0, at + 1);
        if (Exists(level)) continue;
        if (!CreateDirectoryW(level.c_str(), nullptr)) return false;
    }
    return true;
}

// A member name that stays inside the target: relative, no drive or colon,
// no "..", no level made only of dots, nothing empty.
bool SafeMemberName(const char* name, std::size_t length) {
    if (length == 0 || length > kMaxNameBytes || std::strlen(name) != length) return false;
    if (name[0] == '/' || name[0] == '\\' || std::strchr(name, ':')) return false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= length; ++i) {
        if (i < length && name[i] != '/' && name[i] != '\\') continue;
        const std::string level(name + start, i - start);
        // Only a directory member's own trailing separator may leave an empty level.
        if (level.empty() && !(i == length && start == length)) return false;
        if (!level.empty() && level.find_first_not_of('.') == std::string::npos) return false;
        start = i + 1;
    }
    return true;
}

bool IsDirectoryMember(const unz_file_info64& info, const char* name, std::size_t length) {
    if (info.external_fa & kDosDirectory) return true;
    if ((info.version >> 8) == kUnixHost && ((info.external_fa >> 16) & 0170000) == 0040000) return true;
    return length > 0 && name[length - 1] == '/';
}

FILETIME UnixToFileTime(std::uint32_t seconds) {
    const ULONGLONG t = (ULONGLONG(seconds) + 11644473600ULL) * 10000000ULL;
    return {DWORD(t), DWORD(t >> 32)};
}

// Times from the DOS stamp (as it stands), replaced by an extended-timestamp
// extra field (id 0x5455) where it carries them.
void MemberTimes(unzFile zip, const unz_file_info64& info, FILETIME& created, FILETIME& accessed,
                 FILETIME& written) {
    FILETIME dos = {};
    DosDateTimeToFileTime(HIWORD(info.dosDate), LOWORD(info.dosDate), &dos);
    created = accessed = written = dos;
    unsigned char extra[1024];
    const int n = unzGetLocalExtrafield(zip, extra, sizeof extra);
    for (int at = 0; n > 0 && at + 4 <= n;) {
        const int id = extra[at] | (extra[at + 1] << 8), size = extra[at + 2] | (extra[at + 3] << 8);
        const int body = at + 4;
        if (body + size > n) break;
        if (id == 0x5455 && size >= 1) {
            const unsigned flags = extra[body];
            int field = body + 1;
            FILETIME* targets[3] = {&written, &accessed, &created};
            for (int bit = 0; bit < 3; ++bit) {
                if (!(flags & (1u << bit))) continue;
                if (field + 4 > body + size) break;
                const std::uint32_t s = extra[field] | (extra[field + 1] << 8) | (extra[field + 2] << 16) |
                                        (std::uint32_t(extra[field + 3]) << 24);
                *targets[bit] = UnixToFileTime(s);
                field += 4;
            }
        }
        at = body + size;
    }
}

// Writes the current member to a temporary file beside its destination and
// moves it over the destination only once it is whole and its CRC is right,
// so a failed member never leaves a half-written file in the game folder.
bool WriteMember(unzFile zip, const unz_file_info64& info, const std::wstring& full) {
    const std::wstring folder = full.substr(0, full.find_last_of(L'\\'));
    wchar_t temp[MAX_PATH + 16];
    if (!GetTempFileNameW(folder.c_str(), L"vlm", 0, temp)) return false;

    bool ok = false;
    {
        ScopedFile out(CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (out && unzOpenCurrentFile(zip) == UNZ_OK) {
            std::vector<char> buffer(kChunk);
            ok = true;
            for (;;) {
                const int got = unzReadCurrentFile(zip, buffer.data(), kChunk);
                if (got == 0) break;
                DWORD wrote = 0;
                if (got < 0 || !WriteFile(out.get(), buffer.data(), DWORD(got), &wrote, nullptr) ||
                    wrote != DWORD(got)) {
                    ok = false;
                    break;
                }
            }
            FILETIME created, accessed, written;
            if (ok) MemberTimes(zip, info, created, accessed, written);
            // A CRC mismatch shows when the member is closed: a corrupted
            // texture is not installed.
            if (unzCloseCurrentFile(zip) != UNZ_OK) ok = false;
            if (ok) SetFileTime(out.get(), &created, &accessed, &written);
            if (!CloseHandle(out.release())) ok = false;
        }
    }
    if (ok) ok = MoveFileExW(temp, full.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) DeleteFileW(temp);
    return ok;
}

bool Notify(ZipComponent* component, int index, int count, const Text& full) {
    return !component || !component->observer || component->observer(index, count, full, component->context);
}

// The archive starts with a local file header and holds at least 32 bytes.
bool PreCheck(const std::wstring& archive) {
    ScopedFile file(CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    unsigned char head[32];
    DWORD got = 0;
    if (!file || !ReadFile(file.get(), head, sizeof head, &got, nullptr) || got != sizeof head) return false;
    return head[0] == 0x50 && head[1] == 0x4B && head[2] == 0x03 && head[3] == 0x04;
}

}  // namespace

int ExtractArchive(ZipComponent* component, const Text& archivePath, const Text& targetFolder) {
    if (TextLength(archivePath) == 0 || TextLength(targetFolder) == 0 || !FileExists(archivePath)) return -1;
    const std::wstring archive = GbkToWide(archivePath);
    if (!Exists(GbkToWide(targetFolder)) && !CreateLevels(GbkToWide(targetFolder))) return 0;
    if (!PreCheck(archive)) return 0;

    // minizip's wide-name Win32 I/O: a GBK path opens on any system locale.
    zlib_filefunc64_def io;
    fill_win32_filefunc64W(&io);
    ScopedZip zip(unzOpen2_64(archive.c_str(), &io));
    if (!zip) return 0;

    int count = 0;
    for (int status = unzGoToFirstFile(zip.get()); status == UNZ_OK; status = unzGoToNextFile(zip.get())) {
        if (unzGetCurrentFileInfo64(zip.get(), nullptr, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK) break;
        ++count;
    }

    const Text base = targetFolder.back() == '\\' ? targetFolder : targetFolder + "\\";
    Text full;
    int status = unzGoToFirstFile(zip.get());
    for (int i = 0;; ++i) {
        unz_file_info64 info;
        char name[kMaxNameBytes + 1] = {};
        if (status != UNZ_OK ||
            unzGetCurrentFileInfo64(zip.get(), &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) {
            Notify(component, count, count, full);
            return 1;
        }
        // Names that would land outside the target, or that minizip had to cut.
        if (info.size_filename > kMaxNameBytes || !SafeMemberName(name, info.size_filename)) return 0;

        full = base;
        for (const char* p = name; *p; ++p) full += *p == '/' ? '\\' : *p;
        const std::wstring wide = GbkToWide(full);
        if (IsDirectoryMember(info, name, info.size_filename)) {
            if (!Exists(wide) && !CreateLevels(wide)) return 0;
        } else {
            // Lifts read-only, hidden and system flags that would stop the replace.
            SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (!WriteMember(zip.get(), info, wide)) return 0;
            SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        if (!Notify(component, i, count, full)) return 1;
        status = unzGoToNextFile(zip.get());
    }
}
