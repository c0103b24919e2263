// The one boundary between the program's GBK texts and the wide Win32 calls.
// Code page 936 is named explicitly so that the program behaves the same on a
// Chinese system and on one whose ANSI code page is something else.
#pragma once

#include <string>

#include "runtime/Text.h"

constexpr unsigned kGbkCodePage = 936;

std::wstring GbkToWide(const Text& text);
Text WideToGbk(const wchar_t* wide, int length = -1);
inline Text WideToGbk(const std::wstring& wide) { return WideToGbk(wide.c_str(), int(wide.size())); }
// UTF-8 bytes (a web page, a record of ours) to a wide string.
std::wstring Utf8ToWide(ByteSpan utf8);
inline std::wstring Utf8ToWide(const std::string& utf8) { return Utf8ToWide(ByteSpan(utf8.data(), utf8.size())); }
// A wide string as UTF-8 bytes: what the program writes into files of its own.
std::string WideToUtf8(const std::wstring& wide);
