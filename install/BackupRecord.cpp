#include "install/BackupRecord.h"

#include <windows.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "runtime/Encoding.h"

namespace {

const char kHeader[] = "VELMORA-RECORD 1";

bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

// A relative path that stays under Game: an undo deletes and renames what
// the record names, so a record changed by hand must not reach elsewhere.
bool SafeRelative(const std::wstring& path) {
    if (path.empty() || path.size() > 32000) return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find(L'\\', start);
        const std::wstring level = path.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
        // Windows drops a trailing dot or space: the name would reach another file.
        if (level.empty() || level.back() == L'.' || level.back() == L' ') return false;
        for (wchar_t c : level)
            if (c < 32 || wcschr(L"<>:\"/|?*", c)) return false;
        // Our own names, in any letter case (Windows finds x.VELMORA-OLD
        // under x.velmora-old): a recovery renames and deletes by them.
        std::wstring upper = level;
        CharUpperBuffW(upper.data(), DWORD(upper.size()));
        if (upper.find(L".VELMORA-") != std::wstring::npos) return false;
        if (end == std::wstring::npos) return true;
        start = end + 1;
    }
}

std::string HashText(const FileHash& h) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%08lx:%llu", static_cast<unsigned long>(h.crc),
                  static_cast<unsigned long long>(h.size));
    return buffer;
}

// Decimal digits only, one at least, and no more than the type holds.
bool ParseDecimal(const std::string& digits, std::uint64_t max, std::uint64_t* value) {
    if (digits.empty()) return false;
    std::uint64_t v = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        const unsigned d = unsigned(c - '0');
        if (v > (max - d) / 10) return false;
        v = v * 10 + d;
    }
    *value = v;
    return true;
}

// "<8 hex digits>:<decimal size>", nothing more and nothing less.
bool ParseHash(const std::string& field, FileHash* h) {
    if (field.size() < 10 || field[8] != ':') return false;
    for (std::size_t i = 0; i < 8; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(field[i]))) return false;
    std::uint64_t size = 0;
    if (!ParseDecimal(field.substr(9), UINT64_MAX, &size)) return false;
    h->crc = std::uint32_t(std::strtoul(field.substr(0, 8).c_str(), nullptr, 16));
    h->size = size;
    return true;
}

std::string TimeText(std::uint64_t time) {
    if (time == 0) return "-";
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%016llx", static_cast<unsigned long long>(time));
    return buffer;
}

bool ParseTime(const std::string& field, std::uint64_t* time) {
    if (field == "-") return *time = 0, true;
    if (field.size() != 16) return false;
    for (char c : field)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    *time = std::strtoull(field.c_str(), nullptr, 16);
    return true;
}

// The next field up to a space; false when the line has none left.
bool TakeField(std::string* rest, std::string* field) {
    const std::size_t space = rest->find(' ');
    if (space == 0 || space == std::string::npos) return false;
    *field = rest->substr(0, space);
    rest->erase(0, space + 1);
    return true;
}

}  // namespace

std::string FormatRecord(const BackupRecord& r) {
    std::string out = std::string(kHeader) + "\n";
    out += "last " + std::to_string(r.entry) + " " + r.time + " " + WideToUtf8(GbkToWide(r.word)) + "\n";
    for (const std::wstring& f : r.folders) out += "folder " + WideToUtf8(f) + "\n";
    for (const RecordedFile& f : r.files)
        out += "file " + (f.original ? HashText(*f.original) : std::string("-")) + " " + HashText(f.installed) + " " +
               TimeText(f.written) + " " + WideToUtf8(f.relative) + "\n";
    return out;
}

bool ParseRecord(const std::string& text, BackupRecord* record) {
    BackupRecord r;
    bool sawLast = false;
    std::size_t at = 0;
    for (bool first = true;; first = false) {
        const std::size_t end = text.find('\n', at);
        if (end == std::string::npos) return at == text.size() && sawLast && (*record = r, true);
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (first) {
            if (line != kHeader) return false;
            continue;
        }
        std::string kind;
        if (!TakeField(&line, &kind)) return false;
        if (kind == "last" && !sawLast) {
            std::string number;
            std::uint64_t entry = 0;
            if (!TakeField(&line, &number) || !TakeField(&line, &r.time) || line.empty() ||
                !ParseDecimal(number, 1000000, &entry))
                return false;
            r.entry = int(entry);
            r.word = WideToGbk(Utf8ToWide(line));
            sawLast = r.entry > 0 && !r.word.empty();
            if (!sawLast) return false;
        } else if (kind == "folder") {
            const std::wstring relative = Utf8ToWide(line);
            if (!SafeRelative(relative) || HasFolder(r, relative)) return false;
            r.folders.push_back(relative);
        } else if (kind == "file") {
            RecordedFile f;
            std::string original, installed, written;
            if (!TakeField(&line, &original) || !TakeField(&line, &installed) || !TakeField(&line, &written) ||
                !ParseTime(written, &f.written))
                return false;
            if (original != "-") {
                FileHash h;
                if (!ParseHash(original, &h)) return false;
                f.original = h;
            }
            f.relative = Utf8ToWide(line);
            if (!ParseHash(installed, &f.installed) || !SafeRelative(f.relative) || FindRecorded(r, f.relative))
                return false;
            r.files.push_back(f);
        } else {
            return false;
        }
    }
}

RecordedFile* FindRecorded(BackupRecord& record, const std::wstring& relative) {
    for (RecordedFile& f : record.files)
        if (SameName(f.relative, relative)) return &f;
    return nullptr;
}

const RecordedFile* FindRecorded(const BackupRecord& record, const std::wstring& relative) {
    return FindRecorded(const_cast<BackupRecord&>(record), relative);
}

bool HasFolder(const BackupRecord& record, const std::wstring& relative) {
    for (const std::wstring& f : record.folders)
        if (SameName(f, relative)) return true;
    return false;
}

std::string RecordTimeNow() {
    SYSTEMTIME t;
    GetSystemTime(&t);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond);
    return buffer;
}
