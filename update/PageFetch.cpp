#include "update/PageFetch.h"

#include <windows.h>

#include <algorithm>
#include <memory>

#include "runtime/HttpUtil.h"
#include "runtime/Process.h"
#include "update/DownloadAddress.h"

namespace {

// Shared by the waiting caller and the worker: whichever lets go last frees it.
struct Job {
    Text address;
    ULONGLONG deadline = 0;
    Bytes body;
    HttpCancel cancel;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Job() {
        if (done) CloseHandle(done);
    }
};

// The pages being read: a page is read by one worker at a time, so repeated
// checks cannot pile up workers and sockets.
SRWLOCK g_lock = SRWLOCK_INIT;
std::vector<Text> g_reading;
int g_workers = 0;

bool Claim(const Text& address) {
    AcquireSRWLockExclusive(&g_lock);
    const bool free = std::find(g_reading.begin(), g_reading.end(), address) == g_reading.end();
    if (free) {
        g_reading.push_back(address);
        ++g_workers;
    }
    ReleaseSRWLockExclusive(&g_lock);
    return free;
}

void Unclaim(const Text& address) {
    AcquireSRWLockExclusive(&g_lock);
    g_reading.erase(std::find(g_reading.begin(), g_reading.end(), address));
    --g_workers;
    ReleaseSRWLockExclusive(&g_lock);
}

DWORD WINAPI Worker(void* parameter) {
    std::unique_ptr<std::shared_ptr<Job>> job(static_cast<std::shared_ptr<Job>*>(parameter));
    Job& j = **job;
    HttpOptions options;
    options.maxBytes = kMaxPageBytes;
    options.refuseLonger = true;
    options.deadline = j.deadline;
    options.mayRedirectTo = [](const std::wstring& address) {
        return IsListedHost(AddressHost(address), BuiltInDownloadPolicy().hosts);
    };
    j.body = HttpGetBytes(j.address, options, &j.cancel);
    Unclaim(j.address);
    SetEvent(j.done);
    return 0;
}

bool Start(const std::shared_ptr<Job>& job) {
    if (!job->done || !Claim(job->address)) return false;
    auto* handoff = new std::shared_ptr<Job>(job);
    HANDLE thread = CreateThread(nullptr, 0, Worker, handoff, 0, nullptr);
    if (!thread) {
        delete handoff;
        Unclaim(job->address);
        return false;
    }
    CloseHandle(thread);
    return true;
}

}  // namespace

int PageWorkersRunning() {
    AcquireSRWLockShared(&g_lock);
    const int n = g_workers;
    ReleaseSRWLockShared(&g_lock);
    return n;
}

std::vector<Bytes> FetchPages(const std::vector<Text>& addresses, unsigned deadlineMs) {
    const ULONGLONG deadline = GetTickCount64() + deadlineMs;
    std::vector<std::shared_ptr<Job>> jobs;
    std::vector<HANDLE> waiting;
    for (const Text& address : addresses) {
        auto job = std::make_shared<Job>();
        job->address = address;
        job->deadline = deadline;
        if (Start(job)) waiting.push_back(job->done);
        jobs.push_back(job);
    }
    bool pumping = true;
    while (!waiting.empty()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        const DWORD left = DWORD(deadline - now);
        const DWORD n = DWORD(waiting.size());
        // The program stays live meanwhile: timers, the tray icon and its menu.
        // A waiting quit message would wake us at once: then only the pages count.
        const DWORD woke = pumping ? MsgWaitForMultipleObjectsEx(n, waiting.data(), left, QS_ALLINPUT, MWMO_INPUTAVAILABLE)
                                   : WaitForMultipleObjects(n, waiting.data(), FALSE, left);
        if (woke < WAIT_OBJECT_0 + n)
            waiting.erase(waiting.begin() + (woke - WAIT_OBJECT_0));
        else if (pumping && woke == WAIT_OBJECT_0 + n)
            pumping = DispatchPendingMessages();
        else
            break;  // the deadline, or a wait that failed
    }
    std::vector<Bytes> bodies;
    for (const auto& job : jobs) {
        const bool done = WaitForSingleObject(job->done, 0) == WAIT_OBJECT_0;
        // Its handles closed now, a worker blocked in WinINet returns (on
        // Windows; Wine's ends the call at its own timeout, which the
        // deadline bounds too).
        if (!done) job->cancel.Cancel();
        bodies.push_back(done ? job->body : Bytes());
    }
    return bodies;
}
