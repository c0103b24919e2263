// Plain GET requests through WinINet.
#pragma once

#include "runtime/Text.h"

// Bounds that keep a silent or endless server from freezing the window.
constexpr unsigned kHttpTimeoutMs = 5000;
constexpr std::size_t kHttpMaxBodyBytes = 4u << 20;

// The response body whatever the status code; the empty byte set when the
// request cannot be made; the bytes read so far when reading fails.
Bytes HttpGetBytes(const Text& address);
