#include "install/SwapNames.h"

std::wstring StagedPath(const std::wstring& path) { return path + kStagedSuffix; }
std::wstring AsidePath(const std::wstring& path) { return path + kAsideSuffix; }
std::wstring CopyPath(const std::wstring& path) { return path + kCopySuffix; }
