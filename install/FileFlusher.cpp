#include "install/FileFlusher.h"

#include "install/InstallSteps.h"

namespace {

// From the DDK: NtFlushBuffersFileEx and its flag that leaves the disk's cache alone.
struct IoStatus {
    union {
        LONG status;
        void* pointer;
    };
    ULONG_PTR information;
};
using FlushEx = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, IoStatus*);
constexpr ULONG kFlushNoSync = 0x2;

FlushEx FlushWithoutCache() {
    static const FlushEx f = reinterpret_cast<FlushEx>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtFlushBuffersFileEx")));
    return f;
}

// A file system that does not take the flag (FAT, a network share) gets the
// ordinary flush.
unsigned long FlushOne(HANDLE file) {
    if (!DurableWrites()) return 0;
    if (FlushEx f = FlushWithoutCache()) {
        IoStatus io = {};
        if (f(file, kFlushNoSync, nullptr, 0, &io) >= 0) return 0;
    }
    return FlushFileBuffers(file) ? 0 : GetLastError();
}

}  // namespace

bool FileFlusher::SendsWithoutCacheFlush() { return FlushWithoutCache() != nullptr; }

FileFlusher::~FileFlusher() { Wait(); }

void FileFlusher::Add(ScopedFile file, const std::wstring& path) {
    AcquireSRWLockExclusive(&lock_);
    items_.push_back({file.release(), path});
    // Another worker only while the ones there cannot keep up: a thread costs a little too.
    const bool behind = next_ + 1 < items_.size();
    ReleaseSRWLockExclusive(&lock_);
    WakeConditionVariable(&more_);
    if (workers_ < kWorkers && (workers_ == 0 || behind) && !gaveUp_) {
        threads_[workers_].reset(CreateThread(nullptr, 0, Run, this, 0, nullptr));
        if (threads_[workers_]) ++workers_;
        else gaveUp_ = true;
    }
    if (workers_ == 0) Drain(false);  // no worker to be had: flushed right here
}

DWORD WINAPI FileFlusher::Run(void* self) {
    static_cast<FileFlusher*>(self)->Drain(true);
    return 0;
}

void FileFlusher::Drain(bool worker) {
    AcquireSRWLockExclusive(&lock_);
    for (;;) {
        if (next_ == items_.size()) {
            if (stopping_ || !worker) break;
            SleepConditionVariableSRW(&more_, &lock_, INFINITE, 0);
            continue;
        }
        Item& item = items_[next_++];
        ReleaseSRWLockExclusive(&lock_);
        item.error = FlushOne(item.file);
        if (!CloseHandle(item.file) && item.error == 0) item.error = GetLastError();
        AcquireSRWLockExclusive(&lock_);
        item.done = true;
        WakeAllConditionVariable(&flushed_);
    }
    ReleaseSRWLockExclusive(&lock_);
}

void FileFlusher::Wait() {
    gaveUp_ = false;
    if (workers_ == 0) return;
    AcquireSRWLockExclusive(&lock_);
    stopping_ = true;
    ReleaseSRWLockExclusive(&lock_);
    WakeAllConditionVariable(&more_);
    for (ScopedKernelHandle& thread : threads_)
        if (thread) WaitForSingleObject(thread.get(), INFINITE), thread.reset();
    stopping_ = gaveUp_ = false;
    workers_ = 0;
}

bool FileFlusher::Flushed(std::size_t index, std::wstring* failedPath, unsigned long* error) {
    // Only this thread adds items: reading them here needs no lock, their done flags do.
    for (; told_ <= index && told_ < items_.size(); ++told_) {
        Item& item = items_[told_];
        AcquireSRWLockExclusive(&lock_);
        while (!item.done) SleepConditionVariableSRW(&flushed_, &lock_, INFINITE, 0);
        ReleaseSRWLockExclusive(&lock_);
        if (!TellStep(InstallStep::Flush, item.path)) item.error = GetLastError();
        if (item.error != 0) {
            *failedPath = item.path;
            *error = item.error;
            return false;
        }
    }
    return true;
}

bool FileFlusher::Finish(std::wstring* failedPath, unsigned long* error) {
    const bool ok = items_.empty() || Flushed(items_.size() - 1, failedPath, error);
    Wait();  // after a failure, the files still queued are closed too
    items_.clear();
    next_ = told_ = 0;
    return ok;
}
