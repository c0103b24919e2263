// What stands in the folders an install writes into, read once a folder.
// Under Wine every look for a name that is not there reads the whole folder
// (names match without regard to letter case), and an install looks for two
// or three absent names per file: one listing per folder replaces them all.
#pragma once

#include <windows.h>

#include <map>
#include <string>

class FolderListing {
public:
    explicit FolderListing(std::wstring root) : root_(std::move(root)) {}
    // The attributes of what stood at root\relative when its folder was
    // first read; INVALID_FILE_ATTRIBUTES for nothing.
    DWORD Attributes(const std::wstring& relative);
    // A folder the install made itself: nothing stands in it.
    void Made(const std::wstring& relative);
    // What stands at root\relative now, after the install moved it.
    void Note(const std::wstring& relative, DWORD attributes);

private:
    struct Folder {
        bool listed = false;  // false: it could not be read, each name is looked up
        std::map<std::wstring, DWORD> names;  // upper-cased name -> attributes
    };
    Folder& Read(const std::wstring& relative);

    std::wstring root_;
    std::map<std::wstring, Folder> folders_;  // by upper-cased relative path ("" for the root)
};
