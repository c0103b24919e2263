#include "runtime/HttpUtil.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>

#include "runtime/Encoding.h"
#include "runtime/ScopedHandle.h"

namespace {

struct InternetHandleTraits {
    static HINTERNET Invalid() { return nullptr; }
    static void Close(HINTERNET h) { InternetCloseHandle(h); }
};
using ScopedInternet = ScopedResource<HINTERNET, InternetHandleTraits>;

// Set on every handle: not every WinINet passes the root's values down.
void SetTimeouts(HINTERNET h) {
    DWORD ms = kHttpTimeoutMs;
    InternetSetOptionW(h, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms);
    InternetSetOptionW(h, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof ms);
    InternetSetOptionW(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms);
}

// Opened on first use and kept for the life of the process.
HINTERNET RootHandle() {
    static HINTERNET root = [] {
        HINTERNET h = InternetOpenW(L"Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)",
                                    INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
        if (h) SetTimeouts(h);
        return h;
    }();
    return root;
}

}  // namespace

Bytes HttpGetBytes(const Text& address) {
    if (TextLength(address) == 0) return Bytes();
    std::wstring url = GbkToWide(address);
    url = url.substr(0, url.find(L'#'));

    wchar_t scheme[32], host[256], user[256], password[256], object[4096];
    URL_COMPONENTSW parts = {};
    parts.dwStructSize = sizeof parts;
    parts.lpszScheme = scheme;     parts.dwSchemeLength = ARRAYSIZE(scheme);
    parts.lpszHostName = host;     parts.dwHostNameLength = ARRAYSIZE(host);
    parts.lpszUserName = user;     parts.dwUserNameLength = ARRAYSIZE(user);
    parts.lpszPassword = password; parts.dwPasswordLength = ARRAYSIZE(password);
    parts.lpszUrlPath = object;    parts.dwUrlPathLength = ARRAYSIZE(object);
    // Flags 0: no character is turned into a percent escape.
    if (!InternetCrackUrlW(url.c_str(), DWORD(url.size()), 0, &parts) || host[0] == 0) return Bytes();
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
    else if (parts.nScheme != INTERNET_SCHEME_HTTP) return Bytes();

    HINTERNET root = RootHandle();
    if (!root) return Bytes();
    ScopedInternet connection(InternetConnectW(root, host, parts.nPort, user[0] ? user : nullptr,
                                               password[0] ? password : nullptr,
                                               INTERNET_SERVICE_HTTP, 0, 0));
    if (!connection) return Bytes();
    SetTimeouts(connection.get());
    const wchar_t* accept[] = {L"Accept: */* \r\n", nullptr};
    ScopedInternet request(HttpOpenRequestW(connection.get(), L"GET", object[0] ? object : L"/",
                                            L"HTTP/1.0", nullptr, accept, flags, 0));
    if (!request) return Bytes();
    SetTimeouts(request.get());
    if (!HttpSendRequestW(request.get(), L"Accept: */*\r\n\r\n", DWORD(-1), nullptr, 0)) return Bytes();

    DWORD contentLength = 0, size = sizeof contentLength;
    DWORD chunk = 10240;
    if (HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                       &contentLength, &size, nullptr) && contentLength > 0)
        chunk = contentLength >= 102400 ? 102400 : contentLength + 1;  // no wrap at 0xFFFFFFFF

    Bytes body;
    Bytes buffer(chunk);
    for (;;) {
        DWORD got = 0;
        if (!InternetReadFile(request.get(), buffer.data(), chunk, &got) || got == 0) break;
        body.insert(body.end(), buffer.begin(), buffer.begin() + got);
        if (body.size() >= kHttpMaxBodyBytes) {
            body.resize(kHttpMaxBodyBytes);
            break;
        }
    }
    return body;
}
