// Puts written files' bytes on disk on a few worker threads, while the
// caller goes on writing the next ones, and closes them.
//
// Where the system has NtFlushBuffersFileEx (Windows 8 on), each file's bytes
// are sent to the disk without asking the disk to empty its own cache: one
// ordinary flush of any file on the same disk afterwards (the journal's)
// makes them all durable at once, for the price of one. Elsewhere (Windows 7,
// Wine) each file is flushed whole, off the caller's path; several at once,
// because a file system that logs its changes (NTFS, ext4 under Wine) then
// commits the flushes waiting together in one go instead of one by one.
#pragma once

#include <windows.h>

#include <deque>
#include <string>

#include "runtime/ScopedHandle.h"

class FileFlusher {
public:
    FileFlusher() = default;
    // Waits for the workers; every file handed over is closed by then.
    ~FileFlusher();
    FileFlusher(const FileFlusher&) = delete;
    FileFlusher& operator=(const FileFlusher&) = delete;

    // Takes a file that has been written in full (opened with write access).
    void Add(ScopedFile file, const std::wstring& path);
    // Waits until the file added as number `index` (from 0, in the order
    // added) is flushed and closed; the install steps' hook is told about it
    // and every one before it, in that order. The files after it may still
    // be on their way. False with the first failure: its path and Win32 error.
    bool Flushed(std::size_t index, std::wstring* failedPath, unsigned long* error);
    // Waits for every file added (as Flushed does) and lets the workers go.
    bool Finish(std::wstring* failedPath, unsigned long* error);
    // Whether flushes skip the disk's cache (and need one flush after them).
    static bool SendsWithoutCacheFlush();

private:
    struct Item {
        HANDLE file;
        std::wstring path;
        unsigned long error = 0;
        bool done = false;  // flushed and closed
    };
    static constexpr int kWorkers = 4;
    static DWORD WINAPI Run(void* self);
    // Flushes and closes the items not yet taken; the worker waits for more until stopped.
    void Drain(bool worker);
    void Wait();

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE more_ = CONDITION_VARIABLE_INIT;     // an item was added
    CONDITION_VARIABLE flushed_ = CONDITION_VARIABLE_INIT;  // an item is done
    std::deque<Item> items_;  // references stay valid as it grows
    std::size_t next_ = 0;    // the next item for a worker
    std::size_t told_ = 0;    // items told to the hook
    bool stopping_ = false;
    bool gaveUp_ = false;  // a thread could not be had
    int workers_ = 0;
    ScopedKernelHandle threads_[kWorkers];
};
