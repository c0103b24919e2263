#include "update/DownloadAddress.h"

#include <cwchar>

#include "update/AnnouncementPages.h"

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsAsciiLetter(wchar_t c) { return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z'); }
wchar_t Lower(wchar_t c) { return c >= L'A' && c <= L'Z' ? wchar_t(c + 32) : c; }

std::wstring LowerAscii(std::wstring s) {
    for (wchar_t& c : s) c = Lower(c);
    return s;
}

bool StartsWithNoCase(const std::wstring& s, const wchar_t* prefix) {
    const std::size_t n = std::wcslen(prefix);
    return s.size() >= n && LowerAscii(s.substr(0, n)) == prefix;
}

// What a browser passes on as is: printable ASCII, less the characters that
// end or quote an argument on a command line or that browsers rewrite.
bool IsPlainAddressCharacter(wchar_t c) {
    return c > 0x20 && c < 0x7F && !std::wcschr(L"\"<>\\^`{}|", c);
}

// Labels of ASCII letters, digits and "-", separated by single dots.
bool IsAsciiName(const std::wstring& host) {
    if (host.empty() || host.front() == L'.' || host.back() == L'.') return false;
    for (std::size_t i = 0; i < host.size(); ++i) {
        const wchar_t c = host[i];
        if (c == L'.' && host[i - 1] == L'.') return false;
        if (!(IsAsciiLetter(c) || IsDigit(c) || c == L'-' || c == L'.')) return false;
    }
    return true;
}

bool IsIpLiteral(const std::wstring& host) {
    if (host.size() < 3 || host.front() != L'[' || host.back() != L']') return false;
    for (std::size_t i = 1; i + 1 < host.size(); ++i)
        if (!(IsDigit(host[i]) || std::wcschr(L"abcdefABCDEF:.", host[i]))) return false;
    return true;
}

bool IsAddressLiteral(const std::wstring& host) {
    if (IsIpLiteral(host)) return true;
    for (wchar_t c : host)
        if (!IsDigit(c) && c != L'.') return false;
    return !host.empty();
}

bool IsPort(const std::wstring& port) {
    if (port.empty() || port.size() > 5) return false;
    unsigned value = 0;
    for (wchar_t c : port) {
        if (!IsDigit(c)) return false;
        value = value * 10 + unsigned(c - L'0');
    }
    return value <= 65535;
}

std::wstring Widen(const char* ascii) {
    std::wstring out;
    for (; *ascii; ++ascii) out += wchar_t(static_cast<unsigned char>(*ascii));
    return out;
}

}  // namespace

std::vector<std::wstring> ParseHostList(const std::wstring& list) {
    std::vector<std::wstring> hosts;
    std::wstring current;
    for (std::size_t i = 0; i <= list.size(); ++i) {
        const wchar_t c = i < list.size() ? list[i] : L';';
        if (c == L';' || c == L',' || c == L' ') {
            if (!current.empty()) hosts.push_back(LowerAscii(current));
            current.clear();
        } else {
            current += c;
        }
    }
    return hosts;
}

const DownloadPolicy& BuiltInDownloadPolicy() {
    static const DownloadPolicy policy = [] {
        DownloadPolicy p;
        p.hosts = ParseHostList(Widen(VELMORA_DOWNLOAD_HOSTS));
        p.allowHttp = VELMORA_ALLOW_HTTP_DOWNLOAD != 0;
        return p;
    }();
    return policy;
}

bool IsListedHost(std::wstring host, const std::vector<std::wstring>& hosts) {
    host = LowerAscii(host);
    if (!host.empty() && host.back() == L'.') host.pop_back();
    if (!(IsAsciiName(host) || IsIpLiteral(host))) return false;
    for (const std::wstring& listed : hosts) {
        if (host == listed) return true;
        // A sub-domain: "x.quorvane.com" under "quorvane.com", never
        // "evilquorvane.com", and never anything "under" an address.
        if (!IsAddressLiteral(listed) && host.size() > listed.size() + 1 &&
            host.compare(host.size() - listed.size(), listed.size(), listed) == 0 &&
            host[host.size() - listed.size() - 1] == L'.')
            return true;
    }
    return false;
}

std::wstring AddressHost(const std::wstring& address) {
    std::size_t start;
    if (StartsWithNoCase(address, L"https://")) start = 8;
    else if (StartsWithNoCase(address, L"http://")) start = 7;
    else return std::wstring();
    if (address.find(L'\\') != std::wstring::npos) return std::wstring();
    const std::size_t end = address.find_first_of(L"/?#", start);
    const std::wstring authority = address.substr(start, end == std::wstring::npos ? end : end - start);
    // No user part at all: "maker@evil" shows the maker and opens evil.
    if (authority.find(L'@') != std::wstring::npos) return std::wstring();
    // A port follows the last ":" after an IP literal's "]", if any.
    const std::size_t close = authority.rfind(L']');
    const std::size_t colon = authority.find(L':', close == std::wstring::npos ? 0 : close);
    if (colon != std::wstring::npos && !IsPort(authority.substr(colon + 1))) return std::wstring();
    return authority.substr(0, colon);
}

bool IsDownloadAddress(const std::wstring& address, const DownloadPolicy& policy) {
    if (address.empty() || address.size() > kMaxDownloadAddress) return false;
    for (wchar_t c : address)
        if (!IsPlainAddressCharacter(c)) return false;
    if (!StartsWithNoCase(address, L"https://") && !(policy.allowHttp && StartsWithNoCase(address, L"http://")))
        return false;
    return IsListedHost(AddressHost(address), policy.hosts);
}
