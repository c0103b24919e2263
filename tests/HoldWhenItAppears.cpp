#include "HoldWhenItAppears.h"

#include <utility>

HoldWhenItAppears::HoldWhenItAppears(std::wstring path) : path_(std::move(path)) {
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
    while (!h->stop_) {
        h->held_ = CreateFileW(h->path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h->held_ != INVALID_HANDLE_VALUE) return 0;
        Sleep(1);
    }
    return 0;
}
