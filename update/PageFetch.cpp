#include "update/PageFetch.h"

#include <windows.h>

#include <memory>

#include "runtime/HttpUtil.h"
#include "runtime/Process.h"

namespace {

// Shared by the waiting caller and the worker: whichever lets go last frees it.
struct Job {
    Text address;
    Bytes body;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ~Job() {
        if (done) CloseHandle(done);
    }
};

DWORD WINAPI Worker(void* parameter) {
    std::unique_ptr<std::shared_ptr<Job>> job(static_cast<std::shared_ptr<Job>*>(parameter));
    (*job)->body = HttpGetBytes((*job)->address);
    SetEvent((*job)->done);
    return 0;
}

bool Start(const std::shared_ptr<Job>& job) {
    if (!job->done) return false;
    auto* handoff = new std::shared_ptr<Job>(job);
    HANDLE thread = CreateThread(nullptr, 0, Worker, handoff, 0, nullptr);
    if (!thread) {
        delete handoff;
        return false;
    }
    CloseHandle(thread);
    return true;
}

}  // namespace

std::vector<Bytes> FetchPages(const std::vector<Text>& addresses, unsigned deadlineMs) {
    std::vector<std::shared_ptr<Job>> jobs;
    std::vector<HANDLE> waiting;
    for (const Text& address : addresses) {
        auto job = std::make_shared<Job>();
        job->address = address;
        if (Start(job)) waiting.push_back(job->done);
        jobs.push_back(job);
    }
    const ULONGLONG deadline = GetTickCount64() + deadlineMs;
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
    for (const auto& job : jobs)
        bodies.push_back(WaitForSingleObject(job->done, 0) == WAIT_OBJECT_0 ? job->body : Bytes());
    return bodies;
}
