#include "runtime/HttpUtil.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <vector>

#include "runtime/Encoding.h"

namespace {

ULONGLONG Now() { return GetTickCount64(); }

// The step timeout: kHttpTimeoutMs, or what is left before the deadline, so
// that WinINet's own waits (connecting, sending, one read) end by it too.
DWORD StepTimeout(const HttpOptions& options) {
    if (!options.deadline) return kHttpTimeoutMs;
    const ULONGLONG now = Now();
    if (now >= options.deadline) return 0;
    return DWORD(std::min<ULONGLONG>(kHttpTimeoutMs, options.deadline - now));
}

// Set on every handle: not every WinINet passes the root's values down.
void SetTimeouts(HINTERNET h, DWORD ms) {
    InternetSetOptionW(h, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms);
    InternetSetOptionW(h, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof ms);
    InternetSetOptionW(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms);
}

// Opened on first use and kept for the life of the process.
HINTERNET RootHandle() {
    static HINTERNET root = [] {
        HINTERNET h = InternetOpenW(L"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)",
                                    INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        if (h) SetTimeouts(h, kHttpTimeoutMs);
        return h;
    }();
    return root;
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The Location of a redirecting answer, resolved against the address asked for.
std::wstring RedirectTarget(HINTERNET request, const std::wstring& from) {
    std::vector<wchar_t> location(4096);
    DWORD size = DWORD(location.size() * sizeof(wchar_t));
    if (!HttpQueryInfoW(request, HTTP_QUERY_LOCATION, location.data(), &size, nullptr)) return std::wstring();
    std::vector<wchar_t> combined(8192);
    DWORD length = DWORD(combined.size());
    if (!InternetCombineUrlW(from.c_str(), location.data(), combined.data(), &length, ICU_NO_ENCODE))
        return std::wstring();
    return std::wstring(combined.data(), length);
}

// kFailed: no request made, ended by the deadline or a cancel (whatever was
// read is no whole page then), or a body longer than a caller that refuses
// those allows. A read that fails otherwise ends the body.
enum class Step { kBody, kRedirect, kFailed };

// One request of the chain: its body, or the address it redirects to.
Step GetOnce(const std::wstring& url, const HttpOptions& options, HttpCancel& cancel, Bytes& body,
             std::wstring& next) {
    wchar_t scheme[32], host[256], user[256], password[256], object[4096];
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszScheme = scheme;     parts.dwSchemeLength = ARRAYSIZE(scheme);
    parts.lpszHostName = host;     parts.dwHostNameLength = ARRAYSIZE(host);
    parts.lpszUserName = user;     parts.dwUserNameLength = ARRAYSIZE(user);
    parts.lpszPassword = password; parts.dwPasswordLength = ARRAYSIZE(password);
    parts.lpszUrlPath = object;    parts.dwUrlPathLength = ARRAYSIZE(object);
    // Flags 0: no character is turned into a percent escape.
    if (!InternetCrackUrlW(url.c_str(), DWORD(url.size()), 0, &parts) || host[0] == 0) return Step::kFailed;
    // Redirects are ours to check; the shared cookie store, credentials and
    // WinINet's own windows are none of a page's business.
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_AUTO_REDIRECT |
                  INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_AUTH | INTERNET_FLAG_NO_UI;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    else if (parts.nScheme != INTERNET_SCHEME_HTTP) return Step::kFailed;

    HINTERNET root = RootHandle();
    DWORD timeout = StepTimeout(options);
    if (!root || !timeout) return Step::kFailed;
    HINTERNET connection = InternetConnectW(root, host, parts.nPort, user[0] ? user : nullptr,
                                            password[0] ? password : nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (!connection || !cancel.Adopt(connection)) return Step::kFailed;
    SetTimeouts(connection, timeout);
    const wchar_t* accept[] = {L"Accept: */* \r\n", nullptr};
    HINTERNET request = HttpOpenRequestW(connection, L"GET", object[0] ? object : L"/", L"HTTP/1.0", nullptr,
                                         accept, flags, 0);
    if (!request || !cancel.Adopt(request)) return Step::kFailed;
    SetTimeouts(request, timeout);
    if (!HttpSendRequestW(request, L"Accept: */*\r\n\r\n", DWORD(-1), nullptr, 0) || cancel.Cancelled())
        return Step::kFailed;

    DWORD status = 0, size = sizeof status;
    HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
    if (options.mayRedirectTo && IsRedirect(status)) {
        next = RedirectTarget(request, url);
        if (!next.empty()) return Step::kRedirect;
    }

    DWORD contentLength = 0;
    size = sizeof contentLength;
    DWORD chunk = 10240;
    if (HttpQueryInfoW(request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &contentLength, &size,
                       nullptr) && contentLength > 0) {
        if (options.refuseLonger && contentLength > options.maxBytes) return Step::kFailed;
        chunk = contentLength >= 102400 ? 102400 : contentLength + 1;  // no wrap at 0xFFFFFFFF
    }
    // One byte past the limit tells a body that is too long.
    const std::size_t limit = options.refuseLonger ? options.maxBytes + 1 : options.maxBytes;

    Bytes buffer(chunk);
    for (;;) {
        // Only what has arrived is read: a read of more waits until it all
        // came, and a server that sends a byte every few seconds would keep
        // it waiting for weeks without ever tripping a timeout. The deadline
        // is looked at before each wait.
        timeout = StepTimeout(options);
        if (!timeout) return Step::kFailed;
        SetTimeouts(request, timeout);
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0) || available == 0) break;
        if (cancel.Cancelled()) return Step::kFailed;
        DWORD got = 0;
        const DWORD want = DWORD(std::min<std::size_t>({std::size_t(available), chunk, limit - body.size()}));
        if (!InternetReadFile(request, buffer.data(), want, &got) || got == 0) break;
        if (cancel.Cancelled()) return Step::kFailed;
        body.insert(body.end(), buffer.begin(), buffer.begin() + got);
        if (body.size() >= limit) break;
    }
    if (body.size() > options.maxBytes) return Step::kFailed;
    // Cut off by the deadline (a read it ended): not a whole body.
    if (cancel.Cancelled() || (options.deadline && Now() >= options.deadline)) return Step::kFailed;
    return Step::kBody;
}

}  // namespace

struct HttpCancel::State {
    SRWLOCK lock = SRWLOCK_INIT;
    bool cancelled = false;
    std::vector<HINTERNET> handles;  // children after their parents
};

HttpCancel::HttpCancel() : state_(new State) {}
HttpCancel::~HttpCancel() {
    CloseAll();
    delete state_;
}

bool HttpCancel::Adopt(void* handle) {
    AcquireSRWLockExclusive(&state_->lock);
    const bool cancelled = state_->cancelled;
    if (!cancelled) state_->handles.push_back(handle);
    ReleaseSRWLockExclusive(&state_->lock);
    if (cancelled) InternetCloseHandle(handle);
    return !cancelled;
}

// Each handle is closed exactly once, by whichever thread comes first: the
// worker when its request is over, or the waiting thread at the deadline.
// Closed outside the lock: a close may wait for a call in progress on the
// handle, and that call's thread may want the lock when it returns.
void HttpCancel::CloseAll() {
    std::vector<HINTERNET> handles;
    AcquireSRWLockExclusive(&state_->lock);
    handles.swap(state_->handles);
    ReleaseSRWLockExclusive(&state_->lock);
    for (auto h = handles.rbegin(); h != handles.rend(); ++h) InternetCloseHandle(*h);
}

void HttpCancel::Cancel() {
    AcquireSRWLockExclusive(&state_->lock);
    state_->cancelled = true;
    ReleaseSRWLockExclusive(&state_->lock);
    CloseAll();
}

bool HttpCancel::Cancelled() {
    AcquireSRWLockShared(&state_->lock);
    const bool cancelled = state_->cancelled;
    ReleaseSRWLockShared(&state_->lock);
    return cancelled;
}

bool RedirectKeepsSecurity(const std::wstring& from, const std::wstring& to) {
    return _wcsnicmp(from.c_str(), L"https:", 6) != 0 || _wcsnicmp(to.c_str(), L"https:", 6) == 0;
}

Bytes HttpGetBytes(const Text& address) { return HttpGetBytes(address, HttpOptions()); }

Bytes HttpGetBytes(const Text& address, const HttpOptions& options, HttpCancel* cancel) {
    if (TextLength(address) == 0 || options.maxBytes == 0) return Bytes();
    HttpCancel own;
    HttpCancel& handles = cancel ? *cancel : own;
    std::wstring url = GbkToWide(address);
    for (int redirects = 0;; ++redirects) {
        url = url.substr(0, url.find(L'#'));
        Bytes body;
        std::wstring next;
        const Step step = GetOnce(url, options, handles, body, next);
        handles.CloseAll();
        if (step == Step::kFailed) return Bytes();
        if (step == Step::kBody) return body;
        if (redirects == kHttpMaxRedirects || !RedirectKeepsSecurity(url, next) || !options.mayRedirectTo(next))
            return Bytes();
        url = next;
    }
}
