// Runs the extraction driver (extract_cli) on a script of its commands, as
// the tests that end an install or an undo at a chosen step need.
#pragma once

#include <windows.h>

#include <string>

// Writes the script to folder\driver.txt and runs the driver on it to its
// end (a minute at most): its exit code (-1 when it did not start or end),
// and what it printed in *output.
DWORD RunDriver(const std::wstring& cli, const std::wstring& folder, const std::string& script, std::string* output);
