#include "themes/ArchiveExtract.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

// unzip.h first: iowin32.h needs the zlib declarations it brings.
#include <unzip.h>
#include <iowin32.h>

#include "runtime/Encoding.h"
#include "runtime/FileUtil.h"
#include "runtime/LongPath.h"
#include "runtime/ScopedHandle.h"
#include "install/InstallSteps.h"
#include "install/InstallSwap.h"
#include "themes/MemberNames.h"
#include "install/SwapNames.h"
#include "themes/ZipReadBuffer.h"

namespace {

constexpr int kChunk = 16384;
constexpr DWORD kDosDirectory = 0x10;
constexpr unsigned kUnixHost = 3;
constexpr unsigned kZipFlagEncrypted = 0x1;
// No pack unpacks to more than this many times its own size, nor past 1 GiB:
// a member that claims more is a damaged or hostile archive.
constexpr std::uint64_t kMaxExpansion = 200;
constexpr std::uint64_t kMaxTotalBytes = 1ull << 30;

struct ZipHandleTraits {
    static unzFile Invalid() { return nullptr; }
    static void Close(unzFile z) { unzClose(z); }
};
using ScopedZip = ScopedResource<unzFile, ZipHandleTraits>;

struct Member {
    std::wstring relative;  // decoded, "\"-separated
    bool directory = false;
    unz64_file_pos position = {};
    unz_file_info64 info = {};
};

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(path.c_str()); }
bool IsFile(const std::wstring& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}
bool IsFolder(const std::wstring& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates every missing level of an extended path below its root; told each
// level it makes before making it, so a roll-back can remove them again.
template <typename OnCreate>
bool CreateLevels(const std::wstring& path, OnCreate onCreate) {
    // Past "\\?\C:\" or "\\?\UNC\server\share\": those are never made here.
    std::size_t at = path.compare(0, 8, L"\\\\?\\UNC\\") == 0 ? path.find(L'\\', path.find(L'\\', 8) + 1)
                                                               : path.find(L'\\', 4);
    for (; at != std::wstring::npos && at < path.size(); at = path.find(L'\\', at + 1)) {
        const std::wstring level = path.substr(0, at);
        if (level.size() <= 7 || IsFolder(level)) continue;
        if (!onCreate(level) || !MakeFolderStep(level)) return false;
    }
    if (IsFolder(path)) return true;
    return onCreate(path) && MakeFolderStep(path);
}

bool IsDirectoryMember(const unz_file_info64& info, const std::string& name) {
    if (info.external_fa & kDosDirectory) return true;
    if ((info.version >> 8) == kUnixHost && ((info.external_fa >> 16) & 0170000) == 0040000) return true;
    return !name.empty() && name.back() == '/';
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

// The archive starts with a local file header and holds at least 32 bytes.
bool PreCheck(const std::wstring& archive, std::uint64_t* size) {
    ScopedFile file(CreateFileW(archive.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    unsigned char head[32];
    DWORD got = 0;
    LARGE_INTEGER length;
    if (!file || !GetFileSizeEx(file.get(), &length) || !ReadFile(file.get(), head, sizeof head, &got, nullptr) ||
        got != sizeof head)
        return false;
    *size = std::uint64_t(length.QuadPart);
    return head[0] == 0x50 && head[1] == 0x4B && head[2] == 0x03 && head[3] == 0x04;
}

// Reads the whole central directory and judges it before anything is
// written: safe, unique names; only stored or deflated, unencrypted members;
// and a total size the archive can honestly hold.
bool PlanMembers(unzFile zip, std::uint64_t archiveSize, std::vector<Member>* members, InstallFailure* failure) {
    std::vector<char> name(65536);
    std::set<std::wstring> seen;
    std::uint64_t total = 0;
    int status = unzGoToFirstFile(zip);
    for (; status == UNZ_OK; status = unzGoToNextFile(zip)) {
        Member m;
        if (unzGetCurrentFileInfo64(zip, &m.info, name.data(), uLong(name.size()), nullptr, 0, nullptr, 0) != UNZ_OK ||
            unzGetFilePos64(zip, &m.position) != UNZ_OK)
            break;
        const std::string stored(name.data(), std::min<std::size_t>(m.info.size_filename, name.size()));
        m.relative = DecodeMemberName(stored.data(), unsigned(stored.size()), m.info.flag);
        m.directory = IsDirectoryMember(m.info, stored);
        const std::wstring shown = m.relative.empty() ? GbkToWide(Text(stored.c_str())) : m.relative;
        if (m.relative.empty() || (m.info.flag & kZipFlagEncrypted)) return NoteDamaged(failure, shown);
        if (!m.directory) {
            std::wstring key = m.relative;
            CharUpperBuffW(key.data(), DWORD(key.size()));  // Windows names ignore letter case
            const bool stored0 = m.info.compression_method == 0;
            if ((!stored0 && m.info.compression_method != Z_DEFLATED) || !seen.insert(key).second ||
                (stored0 && m.info.compressed_size != m.info.uncompressed_size))
                return NoteDamaged(failure, shown);
            if (m.info.compressed_size > archiveSize) return NoteDamaged(failure, shown);
            total += m.info.uncompressed_size;
        }
        members->push_back(std::move(m));
    }
    // A member whose entry cannot be read is a damaged pack, not its end.
    if (status != UNZ_END_OF_LIST_OF_FILE) return NoteDamaged(failure, L"");
    if (total > std::min(kMaxTotalBytes, archiveSize * kMaxExpansion)) return NoteDamaged(failure, L"");
    return true;
}

// Where each member's data lies in the archive: no two may share bytes.
using Spans = std::map<std::uint64_t, std::uint64_t>;

bool ClaimSpan(Spans* spans, std::uint64_t start, std::uint64_t length, std::uint64_t archiveSize) {
    if (start == 0 || start > archiveSize || length > archiveSize - start) return false;
    const auto next = spans->lower_bound(start);
    if (next != spans->end() && (next->first == start || next->first < start + length)) return false;
    if (next != spans->begin() && std::prev(next)->second > start) return false;
    (*spans)[start] = start + length;
    return true;
}

// Inflates the current member into its staged file and hands it to the
// swap. It counts only when exactly the declared number of bytes came out
// and their CRC is the stored one.
bool StageFile(unzFile zip, const Member& m, InstallSwap& swap, Spans* spans, std::uint64_t archiveSize,
               InstallFailure* failure) {
    const std::wstring full = swap.Full(m.relative), staged = StagedPath(full);
    // A folder where the file would go cannot be swapped for it. The same
    // look tells the swap whether there is an old file to set aside.
    const DWORD existing = swap.Existing(m.relative);
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY))
        return NoteDamaged(failure, m.relative);
    if (unzOpenCurrentFile(zip) != UNZ_OK) return NoteDamaged(failure, m.relative);
    if (!ClaimSpan(spans, unzGetCurrentFileZStreamPos64(zip), m.info.compressed_size, archiveSize)) {
        unzCloseCurrentFile(zip);
        return NoteDamaged(failure, m.relative);
    }
    ScopedFile out = swap.CreateStaged(m.relative, failure);
    if (!out) {
        const DWORD error = GetLastError();
        unzCloseCurrentFile(zip);
        // Nothing is made here: an archive without directory members is not a pack.
        if (error == ERROR_PATH_NOT_FOUND) return NoteDamaged(failure, m.relative);
        return NoteFailure(failure, error, m.relative);
    }
    std::vector<char> buffer(kChunk);
    std::uint64_t written = 0;
    for (;;) {
        const int got = unzReadCurrentFile(zip, buffer.data(), kChunk);
        if (got == 0) break;
        if (got < 0 || written + unsigned(got) > m.info.uncompressed_size) {
            unzCloseCurrentFile(zip);
            return NoteDamaged(failure, m.relative);
        }
        if (!WriteStep(InstallStep::Write, out.get(), buffer.data(), DWORD(got), staged)) {
            NoteFailure(failure, GetLastError(), m.relative);
            unzCloseCurrentFile(zip);
            return false;
        }
        written += unsigned(got);
    }
    FILETIME created, accessed, modified;
    MemberTimes(zip, m.info, created, accessed, modified);
    // minizip compares the CRC of what it gave us only when the whole
    // declared size came out: both together mean the member is whole.
    const bool closed = unzCloseCurrentFile(zip) == UNZ_OK;
    if (!closed || written != m.info.uncompressed_size) return NoteDamaged(failure, m.relative);
    SetFileTime(out.get(), &created, &accessed, &modified);
    // What it holds is what minizip has just checked it holds.
    const FileHash installed{std::uint32_t(m.info.crc), m.info.uncompressed_size};
    swap.AddStaged(std::move(out), m.relative, existing != INVALID_FILE_ATTRIBUTES, &installed);
    return true;
}

bool Notify(ZipComponent* component, int index, int count, const Text& full) {
    return !component->observer || component->observer(index, count, full, component->context);
}

// Plans, stages and swaps; false with the failure noted, and nothing under
// the target changed.
bool ExtractAll(ZipComponent* c, const std::wstring& archive, const std::wstring& target, const Text& targetFolder) {
    InstallFailure* failure = &c->failure;
    if (!CreateLevels(target, [](const std::wstring&) { return true; })) return NoteFailure(failure, GetLastError(), L"");
    std::uint64_t archiveSize = 0;
    if (!PreCheck(archive, &archiveSize)) return NoteDamaged(failure, L"");
    // The archive that joins the swap must be that name's staged file.
    const std::wstring installAs = GbkToWide(c->installAs);
    if (!installAs.empty() && StagedPath(target + L"\\" + installAs) != archive)
        return NoteFailure(failure, ERROR_INVALID_PARAMETER, installAs);

    // Declared before the archive is opened, so that a roll-back runs after
    // it is closed again: the archive may be one of the staged files.
    InstallSwap swap(target);
    if (c->recordEntry > 0) swap.KeepOriginals(c->recordEntry, c->recordWord);
    // minizip's wide-name Win32 I/O (a GBK path opens on any system locale),
    // read through a buffer.
    zlib_filefunc64_def win32, io;
    fill_win32_filefunc64W(&win32);
    FillBufferedIo(&io, &win32);
    ScopedZip zip(unzOpen2_64(archive.c_str(), &io));
    if (!zip) return NoteDamaged(failure, L"");
    std::vector<Member> members;
    if (!PlanMembers(zip.get(), archiveSize, &members, failure)) return false;
    std::vector<std::wstring> files;
    for (const Member& m : members)
        if (!m.directory) files.push_back(m.relative);
    if (!installAs.empty()) {
        for (const std::wstring& f : files)
            if (CompareStringOrdinal(f.c_str(), -1, installAs.c_str(), -1, TRUE) == CSTR_EQUAL)
                return NoteDamaged(failure, f);
        files.push_back(installAs);
    }
    if (!swap.Begin(files, failure)) return false;

    const int count = int(members.size());
    const Text base = GbkToWide(targetFolder).back() == L'\\' ? targetFolder : targetFolder + "\\";
    Text shown;
    Spans spans;
    bool stopped = false;
    for (int i = 0; i < count && !stopped; ++i) {
        const Member& m = members[std::size_t(i)];
        const std::wstring full = swap.Full(m.relative);
        if (unzGoToFilePos64(zip.get(), &m.position) != UNZ_OK) return NoteDamaged(failure, m.relative);
        if (m.directory) {
            if (IsFile(full)) return NoteDamaged(failure, m.relative);
            const bool made = CreateLevels(full, [&](const std::wstring& level) {
                return swap.NoteCreatedFolder(level.substr(target.size() + 1), failure);
            });
            if (!made) return NoteFailure(failure, GetLastError(), m.relative);
        } else {
            if (!StageFile(zip.get(), m, swap, &spans, archiveSize, failure)) return false;
        }
        shown = base + WideToGbk(m.relative);
        // A stop puts the members staged so far in place, as one swap.
        stopped = !Notify(c, i, count, shown);
    }
    zip.reset();  // the archive itself may be one of the files swapped
    if (!installAs.empty() && !swap.AdoptStaged(installAs, failure, c->recordEntry > 0 ? &c->installAsHash : nullptr))
        return false;
    if (!swap.Commit(failure)) return false;
    if (!stopped) Notify(c, count, count, shown);
    return true;
}

}  // namespace

int ExtractArchive(ZipComponent* component, const Text& archivePath, const Text& targetFolder) {
    ZipComponent none;
    ZipComponent* c = component ? component : &none;
    c->failure = InstallFailure();
    if (TextLength(archivePath) == 0 || TextLength(targetFolder) == 0 || !FileExists(archivePath)) return -1;
    const std::wstring archive = ExtendedPath(GbkToWide(archivePath));
    const std::wstring target = ExtendedPath(GbkToWide(targetFolder));
    if (archive.empty() || target.empty()) return NoteFailure(&c->failure, ERROR_BAD_PATHNAME, L""), 0;
    return ExtractAll(c, archive, target, targetFolder) ? 1 : 0;
}
