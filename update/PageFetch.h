// Reads announcement pages without letting a host that never answers hold
// the program: each page is read on a worker thread of its own, and the
// caller waits, dispatching its messages, until all have arrived or its own
// deadline has passed. The deadline is ours, not WinINet's, so that phases
// WinINet cannot time out (name resolution, a connection that is never
// accepted) are bounded too; at the deadline the workers' handles are closed
// and each worker ends by the deadline on its own as well.
#pragma once

#include <vector>

#include "runtime/Text.h"

// A page is at most this long; a longer one counts as unreadable.
constexpr std::size_t kMaxPageBytes = 256u << 10;

// The bodies of the pages, in the order given; a page not read by the
// deadline, one that redirects off the download hosts (or more than five
// times, or from https to http), and one still being read by an earlier
// call count as unreadable (empty). The workers only read: they touch no
// window.
std::vector<Bytes> FetchPages(const std::vector<Text>& addresses, unsigned deadlineMs);

// Workers still running, for the tests: none should outlive its deadline.
int PageWorkersRunning();
