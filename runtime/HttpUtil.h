// Plain GET requests through WinINet.
#pragma once

#include <functional>
#include <string>

#include "runtime/Text.h"

// Bounds that keep a silent or endless server from freezing the window.
constexpr unsigned kHttpTimeoutMs = 5000;
constexpr std::size_t kHttpMaxBodyBytes = 4u << 20;
constexpr int kHttpMaxRedirects = 5;

struct HttpOptions {
    // Reading stops here; the body holds at most this many bytes.
    std::size_t maxBytes = kHttpMaxBodyBytes;
    // A longer body gives the empty byte set instead of its first maxBytes.
    // One that announces its length is then not read at all: Wine's WinINet,
    // closing a request whose body was begun, reads the rest of the announced
    // length first (300 MB from 127.0.0.1 took 25 s).
    bool refuseLonger = false;
    // GetTickCount64() value after which the request gives up and gives the
    // empty byte set; 0: only the per-step timeouts of kHttpTimeoutMs.
    unsigned long long deadline = 0;
    // Where a redirect may lead (the whole new address); unset: redirects are
    // not followed and the redirecting answer's own body is the body. A
    // redirect from https to http, or past kHttpMaxRedirects, is never taken.
    std::function<bool(const std::wstring& address)> mayRedirectTo;
};

// Lets another thread end a request at once: Cancel closes its WinINet
// handles, which makes a call blocked on them return, and no later step of
// the request starts. Shared by both threads for the request's whole life.
class HttpCancel {
public:
    HttpCancel();
    ~HttpCancel();
    HttpCancel(const HttpCancel&) = delete;
    HttpCancel& operator=(const HttpCancel&) = delete;
    void Cancel();
    bool Cancelled();

    // For HttpGetBytes: takes over a handle (false, and the handle closed,
    // once cancelled), and closes those it holds.
    bool Adopt(void* handle);
    void CloseAll();

private:
    struct State;
    State* state_;
};

// A redirect from an https address may lead only to another https address.
bool RedirectKeepsSecurity(const std::wstring& from, const std::wstring& to);

// The response body whatever the status code; the empty byte set when the
// request cannot be made, when a redirect is refused and when the deadline
// passes; the bytes read so far when reading fails. Cookies are neither sent
// nor stored, no credentials are offered and no window is ever shown.
Bytes HttpGetBytes(const Text& address);
Bytes HttpGetBytes(const Text& address, const HttpOptions& options, HttpCancel* cancel = nullptr);
