// The names stored in a pack, decoded and judged before anything is written.
#pragma once

#include <string>

// ZIP general-purpose flag bit 11: the name is UTF-8, not the code page.
constexpr unsigned kZipFlagUtf8 = 0x800;
// Longest stored name we take (a Windows path component budget).
constexpr unsigned kMaxMemberNameBytes = 259;

// Decodes a stored name (GBK, or UTF-8 with flag bit 11) and turns it into a
// relative Windows path with "\" separators. Empty when the name is unsafe:
// undecodable bytes, absolute or drive names, "..", empty levels, levels that
// end in a dot or a space, device names, characters Windows refuses, or our
// own leftover suffix. A directory member keeps no trailing separator.
std::wstring DecodeMemberName(const char* stored, unsigned length, unsigned flags);

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, CLOCK$, CONIN$, CONOUT$, with or without an extension.
bool IsDeviceName(const std::wstring& level);
