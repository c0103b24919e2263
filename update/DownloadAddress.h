// The download address comes from a page read over plain HTTP: it is checked
// as the wide string the shell will be given, after the GBK conversion, so
// that what is checked is exactly what a browser's command line receives.
#pragma once

#include <string>
#include <vector>

// Longer addresses are refused: no real download needs them, and a browser's
// command line has limits of its own.
constexpr std::size_t kMaxDownloadAddress = 2048;

struct DownloadPolicy {
    // Lower-case ASCII host names and IP addresses; a name also stands for
    // its sub-domains, an address only for itself.
    std::vector<std::wstring> hosts;
    // http:// besides https://.
    bool allowHttp = false;
};

// VELMORA_DOWNLOAD_HOSTS and VELMORA_ALLOW_HTTP_DOWNLOAD, as built.
const DownloadPolicy& BuiltInDownloadPolicy();

// "a;b;c" as a host list (letter case folded, blanks dropped).
std::vector<std::wstring> ParseHostList(const std::wstring& list);

// Is the host (ASCII, any letter case, one final dot allowed) on the list?
bool IsListedHost(std::wstring host, const std::vector<std::wstring>& hosts);

// The host of an http:// or https:// address, empty when the address has a
// user part, a backslash or no usable host: the same reading as below, for
// the redirects of the announcement pages.
std::wstring AddressHost(const std::wstring& address);

// https:// (or http:// where allowed), a listed host with an optional :port,
// no user part, only printable ASCII outside " < > \ ^ ` { } | and the space,
// at most kMaxDownloadAddress characters.
bool IsDownloadAddress(const std::wstring& address, const DownloadPolicy& policy);
