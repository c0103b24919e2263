#include "FolderSnapshot.h"

#include "TestFiles.h"
#include "TestText.h"

namespace {

void Walk(const std::wstring& root, const std::wstring& rel, Tree* out) {
    WIN32_FIND_DATAW d;
    HANDLE h = FindFirstFileW((root + rel + L"\\*").c_str(), &d);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = d.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = rel + L"\\" + name;
        Entry& e = (*out)[path];
        e.attributes = d.dwFileAttributes;
        if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            e.folder = true;
            Walk(root, path, out);
        } else {
            e.created = d.ftCreationTime;
            e.accessed = d.ftLastAccessTime;
            e.written = d.ftLastWriteTime;
            e.bytes = ReadAll(root + path);
            // Reading moved the access time on: looking must not change what is looked at.
            HANDLE f = CreateFileW((root + path).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
            if (f != INVALID_HANDLE_VALUE) SetFileTime(f, nullptr, &e.accessed, nullptr), CloseHandle(f);
        }
    } while (FindNextFileW(h, &d));
    FindClose(h);
}

}  // namespace

bool SameTime(const FILETIME& a, const FILETIME& b) { return CompareFileTime(&a, &b) == 0; }

bool operator==(const Entry& a, const Entry& b) {
    return a.folder == b.folder && a.bytes == b.bytes && a.attributes == b.attributes &&
           SameTime(a.created, b.created) && SameTime(a.accessed, b.accessed) && SameTime(a.written, b.written);
}

Tree Snapshot(const std::wstring& root) {
    Tree t;
    Walk(root, L"", &t);
    return t;
}

Tree WithoutAccessTimes(Tree t) {
    for (auto& [path, e] : t) e.accessed = FILETIME{};
    return t;
}

std::string Differences(const Tree& want, const Tree& got) {
    std::string out;
    for (const auto& [path, e] : want) {
        const auto it = got.find(path);
        if (it == got.end()) out += "missing " + Utf8(path) + "\n";
        else if (!(it->second == e)) {
            out += "changed " + Utf8(path) + ":";
            if (it->second.bytes != e.bytes) out += " bytes";
            if (it->second.attributes != e.attributes) out += " attributes";
            if (!SameTime(it->second.created, e.created)) out += " created";
            if (!SameTime(it->second.accessed, e.accessed)) out += " accessed";
            if (!SameTime(it->second.written, e.written)) out += " written";
            out += "\n";
        }
    }
    for (const auto& [path, e] : got)
        if (!want.count(path)) out += "added " + Utf8(path) + "\n";
    return out;
}

bool CopyTree(const std::wstring& from, const std::wstring& to) {
    if (!CreateDirectoryW(to.c_str(), nullptr)) return false;
    const Tree source = Snapshot(from);
    for (const auto& [path, e] : source) {
        const std::wstring target = to + path;
        if (e.folder) {
            if (!CreateDirectoryW(target.c_str(), nullptr)) return false;
            continue;
        }
        HANDLE f = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) return false;
        DWORD wrote = 0;
        WriteFile(f, e.bytes.data(), DWORD(e.bytes.size()), &wrote, nullptr);
        const bool timed = SetFileTime(f, &e.created, &e.accessed, &e.written);
        CloseHandle(f);
        if (wrote != e.bytes.size() || !timed || !SetFileAttributesW(target.c_str(), e.attributes)) return false;
    }
    for (const auto& [path, e] : source)
        if (e.folder) SetFileAttributesW((to + path).c_str(), e.attributes);
    return true;
}

void ClearAttributes(const std::wstring& root) {
    for (const auto& [path, e] : Snapshot(root))
        if (!e.folder) SetFileAttributesW((root + path).c_str(), FILE_ATTRIBUTE_NORMAL);
}
