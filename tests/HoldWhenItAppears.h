// Takes hold of a file, without sharing, the moment it appears: the game
// opening a file in the middle of an install. With sharing and a time, a
// virus scanner reading a new file for a while from the moment it can.
#pragma once

#include <windows.h>

#include <string>

class HoldWhenItAppears {
public:
    explicit HoldWhenItAppears(std::wstring path, DWORD share = 0, DWORD forMs = INFINITE);
    ~HoldWhenItAppears();
    HoldWhenItAppears(const HoldWhenItAppears&) = delete;
    HoldWhenItAppears& operator=(const HoldWhenItAppears&) = delete;

    // Stops watching and lets go of the file.
    void Release();
    bool held() const { return held_ != INVALID_HANDLE_VALUE; }
    // Whether it took hold at all (one that holds for a while lets go again).
    bool took() const { return took_; }
    const std::wstring& path() const { return path_; }

private:
    static DWORD WINAPI Watch(void* self);
    std::wstring path_;
    DWORD share_, forMs_;
    volatile bool took_ = false;
    HANDLE thread_ = nullptr;
    HANDLE held_ = INVALID_HANDLE_VALUE;
    volatile LONG stop_ = 0;
};
