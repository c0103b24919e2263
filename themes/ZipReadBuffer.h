// A read buffer between minizip and the file: minizip reads every header
// field with a call of its own, and under Wine each call to the file is a
// round trip through the system. Reads go through one 64 KiB window of the
// file instead; the archive is never read into memory whole.
#pragma once

#include <ioapi.h>

// Fills `def` with functions that read through a buffer from the streams of
// `inner` (minizip's Win32 I/O, say), which must outlive every stream opened.
void FillBufferedIo(zlib_filefunc64_def* def, zlib_filefunc64_def* inner);
