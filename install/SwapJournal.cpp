#include "install/SwapJournal.h"

#include <algorithm>
#include <cwchar>
#include <cstdlib>

#include "runtime/Encoding.h"
#include "runtime/ScopedHandle.h"
#include "install/SwapNames.h"

const wchar_t kJournalName[] = L"velmora-install.velmora-journal";

const char kJournalHeader[] = "VELMORA-JOURNAL 4\n";
// Before the A line. Its Y lines meant both kinds of drop, so they are read as A
// lines: a drop the player was told of then stays in the store, which loses nothing.
const char kJournalHeaderV3[] = "VELMORA-JOURNAL 3\n";
// Journals without the backup store's lines, which the same code reads.
const char kJournalHeaderV2[] = "VELMORA-JOURNAL 2\n";
// The first journals named no original per file but noted each one put back ("R").
const char kJournalHeaderV1[] = "VELMORA-JOURNAL 1\n";
const char kJournalMark[] = "VELMORA-JOURNAL ";

std::wstring JournalPath(const std::wstring& folder) { return folder + L"\\" + kJournalName; }

namespace {

bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

bool ReadJournalFile(HANDLE file, const std::wstring& folder, JournalContents* out, unsigned long* error) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size)) return *error = GetLastError(), false;
    if (size.QuadPart > (64 << 20)) return *error = ERROR_FILE_TOO_LARGE, false;
    std::string text(std::size_t(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text.empty() && !ReadFile(file, text.data(), DWORD(text.size()), &got, nullptr))
        return *error = GetLastError(), false;
    text.resize(got);
    const bool v1 = text.compare(0, sizeof kJournalHeaderV1 - 1, kJournalHeaderV1) == 0;
    const bool v3 = text.compare(0, sizeof kJournalHeaderV3 - 1, kJournalHeaderV3) == 0;
    if (!v1 && !v3 && text.compare(0, sizeof kJournalHeader - 1, kJournalHeader) != 0 &&
        text.compare(0, sizeof kJournalHeaderV2 - 1, kJournalHeaderV2) != 0) {
        // A header cut short by a crash: nothing was acted on yet.
        if (text.compare(0, sizeof kJournalMark - 1, kJournalMark) == 0 && text.find('\n') != std::string::npos)
            return *error = ERROR_UNSUPPORTED_TYPE, false;
        return true;
    }
    std::vector<std::wstring> swappedV1, restoredV1;
    std::vector<std::pair<std::wstring, FileHash>> hashes;
    bool keepStore = false;
    for (std::size_t at = text.find('\n') + 1, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line = text.substr(at, end - at);
        if (line == "DONE") out->done = true;
        if (line == "T") out->store = true;
        if (line == "M") out->storeMade = true;
        if (line == "Z") out->removeStore = true;
        if (line == "Q") keepStore = true;
        if (line == "C") out->copies = true;
        if (line.size() < 3 || line[1] != ' ') continue;
        const std::wstring relative = Utf8ToWide(line.substr(2));
        switch (line[0]) {
            case 'S': out->staged.push_back(relative); break;
            case 'D': out->folders.push_back(relative); break;
            case 'W': (v1 ? swappedV1.push_back(relative) : out->swapped.push_back({relative, true, false, FileHash()})); break;
            case 'N': out->swapped.push_back({relative, false, false, FileHash()}); break;
            case 'H': {
                // "<name>|<crc in hex>:<size>": what the swap moves in under that name.
                const std::size_t bar = relative.find(L'|');
                if (bar == std::wstring::npos) break;
                wchar_t* end = nullptr;
                const unsigned long crc = std::wcstoul(relative.c_str() + bar + 1, &end, 16);
                if (*end != L':') break;
                const unsigned long long size = std::wcstoull(end + 1, &end, 10);
                if (*end != L'\0') break;
                hashes.push_back({relative.substr(0, bar), FileHash{std::uint32_t(crc), size}});
                break;
            }
            case 'R': restoredV1.push_back(relative); break;
            case 'K': {
                const std::size_t bar = relative.find(L'|');
                if (bar != std::wstring::npos) out->kept.push_back({relative.substr(0, bar), relative.substr(bar + 1)});
                break;
            }
            case 'U': out->undo.restore.push_back(relative); break;
            case 'X': out->undo.remove.push_back(relative); break;
            case 'P': out->undo.putBack.push_back(relative); break;
            case 'Y': (v3 ? out->undo.asBefore : out->undo.drop).push_back(relative); break;
            case 'A': out->undo.asBefore.push_back(relative); break;
            case 'G': out->undo.folders.push_back(relative); break;
        }
    }
    if (keepStore) out->removeStore = false;
    for (const auto& h : hashes)
        for (SwapEntry& s : out->swapped)
            if (s.relative == h.first) s.known = true, s.installed = h.second;
    // An original was there when it is set aside, was put back, or was never touched.
    for (const std::wstring& relative : swappedV1) {
        const std::wstring full = folder + L"\\" + relative;
        const bool restored = std::find(restoredV1.begin(), restoredV1.end(), relative) != restoredV1.end();
        out->swapped.push_back({relative, restored || Exists(AsidePath(full)) || Exists(StagedPath(full)), false, FileHash()});
    }
    return true;
}

bool ReadOwnJournal(const std::wstring& folder, JournalContents* out, unsigned long* error) {
    ScopedFile file(CreateFileW(JournalPath(folder).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                nullptr));
    if (!file) return *error = GetLastError(), false;
    return ReadJournalFile(file.get(), folder, out, error);
}

// A recovery holds the journal from its first read until it deletes it,
// with delete access that it shares with no one, and shares nothing but
// reading (a virus scanner). So a second recovery (another instance's
// start-up) waits: one that worked from names it saw before this one put an
// original back would take that original for ours. An install or undo still
// running holds it open for writing: putting its files back under it would
// mix both, so that refuses as well (sharing violation).
HANDLE OpenJournalForRecovery(const std::wstring& journal) {
    return CreateFileW(journal.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}
