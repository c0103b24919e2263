// Reads announcement pages without letting a host that never answers hold
// the program: each page is read on a worker thread of its own, and the
// caller waits, dispatching its messages, until all have arrived or its own
// deadline has passed. The deadline is ours, not WinINet's, so that phases
// WinINet cannot time out (name resolution, a connection that is never
// accepted) are bounded too.
#pragma once

#include <vector>

#include "runtime/Text.h"

// The bodies of the pages, in the order given; a page not read by the
// deadline counts as unreadable (empty). The workers only read: they touch
// no window, and one still running after the deadline ends on its own.
std::vector<Bytes> FetchPages(const std::vector<Text>& addresses, unsigned deadlineMs);
