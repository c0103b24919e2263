// Takes hold of a file, without sharing, the moment it appears: the game
// opening a file in the middle of an install.
#pragma once

#include <windows.h>

#include <string>

class HoldWhenItAppears {
public:
    explicit HoldWhenItAppears(std::wstring path);
    ~HoldWhenItAppears();
    HoldWhenItAppears(const HoldWhenItAppears&) = delete;
    HoldWhenItAppears& operator=(const HoldWhenItAppears&) = delete;

    // Stops watching and lets go of the file.
    void Release();
    bool held() const { return held_ != INVALID_HANDLE_VALUE; }
    const std::wstring& path() const { return path_; }

private:
    static DWORD WINAPI Watch(void* self);
    std::wstring path_;
    HANDLE thread_ = nullptr;
    HANDLE held_ = INVALID_HANDLE_VALUE;
    volatile LONG stop_ = 0;
};
