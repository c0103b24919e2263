#include "runtime/SystemSearch.h"

#include <windows.h>
#include <tlhelp32.h>

#include "runtime/Encoding.h"
#include "runtime/ScopedHandle.h"

namespace {

struct RegistryKeyTraits {
    static HKEY Invalid() { return nullptr; }
    static void Close(HKEY k) { RegCloseKey(k); }
};
using ScopedKey = ScopedResource<HKEY, RegistryKeyTraits>;

const wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

Text StringValue(HKEY key, const wchar_t* name) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ) || size == 0 || size > 64 * 1024)
        return Text();
    std::wstring value(size / sizeof(wchar_t) + 1, L'\0');
    if (RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value.data()), &size) != ERROR_SUCCESS)
        return Text();
    value.resize(wcsnlen(value.c_str(), value.size()));  // the stored text need not end in a zero
    return WideToGbk(value.c_str());
}

void ReadUninstallEntries(HKEY root, REGSAM view, std::vector<UninstallEntry>* out) {
    HKEY raw = nullptr;
    if (RegOpenKeyExW(root, kUninstallKey, 0, KEY_READ | view, &raw) != ERROR_SUCCESS) return;
    ScopedKey list(raw);
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        const LONG r = RegEnumKeyExW(list.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (r == ERROR_NO_MORE_ITEMS) break;
        if (r != ERROR_SUCCESS) continue;
        HKEY entryRaw = nullptr;
        if (RegOpenKeyExW(list.get(), name, 0, KEY_QUERY_VALUE | view, &entryRaw) != ERROR_SUCCESS) continue;
        ScopedKey entry(entryRaw);
        out->push_back({StringValue(entry.get(), L"DisplayName"), StringValue(entry.get(), L"InstallLocation"),
                        StringValue(entry.get(), L"UninstallString")});
    }
}

}  // namespace

std::vector<Text> RunningProgramPaths(const std::vector<std::wstring>& fileNames) {
    std::vector<Text> paths;
    ScopedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return paths;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
        bool wanted = false;
        for (const std::wstring& n : fileNames) wanted = wanted || lstrcmpiW(entry.szExeFile, n.c_str()) == 0;
        if (!wanted) continue;
        ScopedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process) continue;
        wchar_t path[MAX_PATH * 4];
        DWORD size = DWORD(sizeof path / sizeof path[0]);
        if (QueryFullProcessImageNameW(process.get(), 0, path, &size)) paths.push_back(WideToGbk(path));
    }
    return paths;
}

std::vector<UninstallEntry> UninstallEntries() {
    std::vector<UninstallEntry> entries;
    ReadUninstallEntries(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, &entries);
    ReadUninstallEntries(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, &entries);
    ReadUninstallEntries(HKEY_CURRENT_USER, 0, &entries);
    return entries;
}

std::vector<Text> FixedDrives() {
    std::vector<Text> drives;
    // Every letter asked: Wine's list of drives misses one mapped while its
    // server runs, and a letter without a drive answers at once.
    for (int i = 0; i < 26; ++i) {
        const wchar_t root[] = {wchar_t(L'A' + i), L':', L'\\', 0};
        if (GetDriveTypeW(root) == DRIVE_FIXED) drives.push_back(Text{char('A' + i), ':'});
    }
    return drives;
}

bool FolderExists(const Text& path) {
    const DWORD a = GetFileAttributesW(GbkToWide(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}
