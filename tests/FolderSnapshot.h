// An exact picture of a folder tree, to tell that a run left a player's
// folder as it was: every file's bytes, attributes and three times.
#pragma once

#include <windows.h>

#include <map>
#include <string>

// What stands at one place of the tree: a folder's attributes, or a file's
// bytes, attributes and three times. (A folder's own times change with
// every name made or removed in it; they are not the player's data.)
struct Entry {
    bool folder = false;
    std::string bytes;
    DWORD attributes = 0;
    FILETIME created = {}, accessed = {}, written = {};
};

bool SameTime(const FILETIME& a, const FILETIME& b);
bool operator==(const Entry& a, const Entry& b);

using Tree = std::map<std::wstring, Entry>;  // "\\" + relative path, in its letter case, to what stands there

// Looking leaves the access times as they were.
Tree Snapshot(const std::wstring& root);
Tree WithoutAccessTimes(Tree t);
// Each place where two trees differ, one line each, for the failure message;
// empty where they are the same.
std::string Differences(const Tree& want, const Tree& got);

// An exact copy of a tree in a new folder: bytes, attributes and times (the
// source's access times left as they were).
bool CopyTree(const std::wstring& from, const std::wstring& to);
// Lifts read-only and hidden everywhere below, so that the tree can go.
void ClearAttributes(const std::wstring& root);
