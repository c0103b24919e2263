#include "themes/BackupStore.h"

#include <windows.h>

#include "runtime/ScopedHandle.h"

const wchar_t kStoreName[] = L"Velmora备份";

namespace {

// The record is a few kilobytes; anything past this is not ours.
constexpr DWORD kMaxRecordBytes = 16u << 20;

}  // namespace

std::wstring StoreFolder(const std::wstring& game) {
    const std::size_t slash = game.find_last_of(L'\\');
    return (slash == std::wstring::npos ? game : game.substr(0, slash)) + L"\\" + kStoreName;
}

std::wstring RecordPath(const std::wstring& store) { return store + L"\\record.txt"; }
std::wstring OriginalsFolder(const std::wstring& store) { return store + L"\\originals"; }
std::wstring OriginalPath(const std::wstring& store, const std::wstring& relative) {
    return OriginalsFolder(store) + L"\\" + relative;
}

RecordRead ReadRecord(const std::wstring& store, BackupRecord* record) {
    ScopedFile file(CreateFileW(RecordPath(store).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? RecordRead::None
                                                                              : RecordRead::Unreadable;
    }
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxRecordBytes) return RecordRead::Unreadable;
    std::string text(std::size_t(size.QuadPart), '\0');
    DWORD got = 0;
    if (!text.empty() && (!ReadFile(file.get(), text.data(), DWORD(text.size()), &got, nullptr) || got != text.size()))
        return RecordRead::Unreadable;
    return ParseRecord(text, record) ? RecordRead::Read : RecordRead::Unreadable;
}

InstalledState ReadInstalledState(const std::wstring& game) {
    InstalledState state;
    BackupRecord record;
    state.record = ReadRecord(StoreFolder(game), &record);
    if (state.record != RecordRead::Read) return state;
    state.entry = record.entry;
    state.word = record.word;
    for (const RecordedFile& f : record.files) {
        const std::wstring path = game + L"\\" + f.relative;
        std::uint64_t size = 0;
        const HashResult sized = FileSize(path, &size);
        if (sized == HashResult::Unreadable) continue;
        if (sized == HashResult::Missing || size != f.installed.size) {
            ++state.changed;
            continue;
        }
        FileHash now;
        const HashResult hashed = HashFile(path, &now);
        if (hashed == HashResult::Missing || (hashed == HashResult::Hashed && now != f.installed)) ++state.changed;
    }
    return state;
}
