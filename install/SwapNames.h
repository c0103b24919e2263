// The names an install's swap leaves on disk beside each file it replaces
// (InstallSwap.h says which one means what at every instant): ours staged,
// and the player's original set aside.
#pragma once

#include <string>

constexpr wchar_t kStagedSuffix[] = L".velmora-new";
constexpr wchar_t kAsideSuffix[] = L".velmora-old";
static_assert(sizeof kStagedSuffix == sizeof kAsideSuffix, "one length cut off either suffix");

std::wstring StagedPath(const std::wstring& path);
std::wstring AsidePath(const std::wstring& path);
