// The download address comes from a page read over plain HTTP: only a web
// address with a real host is handed to the shell.
#pragma once

#include "runtime/Text.h"

// http:// or https://, then an optional user[:password]@, a host (a DNS name
// or a bracketed IP literal) and an optional :port, then the rest.
bool IsDownloadAddress(const Text& address);
