#include "HoldWhenItAppears.h"

#include <utility>

HoldWhenItAppears::HoldWhenItAppears(std::wstring path, DWORD share, DWORD forMs)
    : path_(std::move(path)), share_(share), forMs_(forMs) {
    thread_ = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
}

HoldWhenItAppears::~HoldWhenItAppears() { Release(); }

void HoldWhenItAppears::Release() {
    stop_ = 1;
    if (thread_) WaitForSingleObject(thread_, INFINITE), CloseHandle(thread_);
    thread_ = nullptr;
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
}

DWORD WINAPI HoldWhenItAppears::Watch(void* self) {
    auto* h = static_cast<HoldWhenItAppears*>(self);
    HANDLE file = INVALID_HANDLE_VALUE;
    while (!h->stop_ && file == INVALID_HANDLE_VALUE) {
        file = CreateFileW(h->path_.c_str(), GENERIC_READ, h->share_, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) Sleep(1);
    }
    if (file == INVALID_HANDLE_VALUE) return 0;
    h->took_ = true;
    if (h->forMs_ == INFINITE) {
        h->held_ = file;  // Release lets go of it
        return 0;
    }
    Sleep(h->forMs_);
    CloseHandle(file);
    return 0;
}
