// The names an install's swap leaves on disk beside each file it replaces
// (InstallSwap.h says which one means what at every instant): ours staged,
// and the player's original set aside.
#pragma once

#include <string>

constexpr wchar_t kStagedSuffix[] = L".velmora-new";
constexpr wchar_t kAsideSuffix[] = L".velmora-old";
static_assert(sizeof kStagedSuffix == sizeof kAsideSuffix, "one length cut off either suffix");
// A copy under way into another folder (DurableMove.h): never the only copy
// of anything, so whoever finds one may delete it.
constexpr wchar_t kCopySuffix[] = L".velmora-copy";

std::wstring StagedPath(const std::wstring& path);
std::wstring AsidePath(const std::wstring& path);
std::wstring CopyPath(const std::wstring& path);
