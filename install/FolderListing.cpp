#include "install/FolderListing.h"

#include "runtime/ScopedHandle.h"

namespace {

std::wstring Upper(std::wstring s) {
    if (!s.empty()) CharUpperBuffW(s.data(), DWORD(s.size()));
    return s;
}

}  // namespace

FolderListing::Folder& FolderListing::Read(const std::wstring& relative) {
    const auto [it, added] = folders_.try_emplace(Upper(relative));
    Folder& folder = it->second;
    if (!added) return folder;
    const std::wstring path = relative.empty() ? root_ : root_ + L"\\" + relative;
    WIN32_FIND_DATAW entry;
    ScopedFind find(FindFirstFileW((path + L"\\*").c_str(), &entry));
    if (!find) {
        const DWORD error = GetLastError();
        folder.listed = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;  // nothing there
        return folder;
    }
    folder.listed = true;
    do {
        const std::wstring name = entry.cFileName;
        if (name != L"." && name != L"..") folder.names[Upper(name)] = entry.dwFileAttributes;
    } while (FindNextFileW(find.get(), &entry));
    return folder;
}

DWORD FolderListing::Attributes(const std::wstring& relative) {
    const std::size_t slash = relative.rfind(L'\\');
    const std::wstring parent = slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash);
    const Folder& folder = Read(parent);
    if (!folder.listed) return GetFileAttributesW((root_ + L"\\" + relative).c_str());
    const auto found = folder.names.find(Upper(relative.substr(slash == std::wstring::npos ? 0 : slash + 1)));
    return found == folder.names.end() ? INVALID_FILE_ATTRIBUTES : found->second;
}

void FolderListing::Made(const std::wstring& relative) {
    Folder& folder = folders_[Upper(relative)];
    folder.listed = true;
    folder.names.clear();
}

void FolderListing::Note(const std::wstring& relative, DWORD attributes) {
    const std::size_t slash = relative.rfind(L'\\');
    Folder& folder = Read(slash == std::wstring::npos ? std::wstring() : relative.substr(0, slash));
    if (!folder.listed) return;  // each name is looked up anyway
    const std::wstring name = Upper(relative.substr(slash == std::wstring::npos ? 0 : slash + 1));
    if (attributes == INVALID_FILE_ATTRIBUTES)
        folder.names.erase(name);
    else
        folder.names[name] = attributes;
}
