// The bytes of a wide text in the code pages the tests hand to the program
// and to the extraction driver.
#pragma once

#include <string>

// Code page 936, as the program's path file and records hold names.
std::string Gbk(const std::wstring& w);
// UTF-8, as the extraction driver's scripts and the tray log carry names.
std::string Utf8(const std::wstring& w);
