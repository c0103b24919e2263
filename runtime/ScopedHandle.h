// Small owners for Win32 handles, each closed where it was acquired.
#pragma once

#include <windows.h>

#include <utility>

template <typename H, typename Traits>
class ScopedResource {
public:
    ScopedResource() = default;
    explicit ScopedResource(H h) : h_(h) {}
    ~ScopedResource() { reset(); }
    ScopedResource(const ScopedResource&) = delete;
    ScopedResource& operator=(const ScopedResource&) = delete;
    ScopedResource(ScopedResource&& o) noexcept : h_(std::exchange(o.h_, Traits::Invalid())) {}
    ScopedResource& operator=(ScopedResource&& o) noexcept {
        if (this != &o) { reset(); h_ = std::exchange(o.h_, Traits::Invalid()); }
        return *this;
    }
    H get() const { return h_; }
    bool valid() const { return h_ != Traits::Invalid(); }
    explicit operator bool() const { return valid(); }
    H release() { return std::exchange(h_, Traits::Invalid()); }
    void reset(H h = Traits::Invalid()) {
        if (valid()) Traits::Close(h_);
        h_ = h;
    }

private:
    H h_ = Traits::Invalid();
};

struct FileHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits {
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { FindClose(h); }
};
struct KernelHandleTraits {
    static HANDLE Invalid() { return nullptr; }
    static void Close(HANDLE h) { CloseHandle(h); }
};
struct GdiObjectTraits {
    static HGDIOBJ Invalid() { return nullptr; }
    static void Close(HGDIOBJ h) { DeleteObject(h); }
};

using ScopedFile = ScopedResource<HANDLE, FileHandleTraits>;
using ScopedFind = ScopedResource<HANDLE, FindHandleTraits>;
using ScopedKernelHandle = ScopedResource<HANDLE, KernelHandleTraits>;
using ScopedGdiObject = ScopedResource<HGDIOBJ, GdiObjectTraits>;
