#include "update/DownloadAddress.h"

#include <cstring>

namespace {

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsHex(unsigned char c) { return IsDigit(c) || std::strchr("abcdefABCDEF", c) != nullptr; }
bool IsAsciiLetter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Labels of letters, digits, "-" and "_", or non-ASCII characters (an
// internationalised name as the user would type it), separated by single
// dots; a final dot (a fully qualified name) is allowed.
bool IsDnsName(const Text& host) {
    if (host.empty() || host[0] == '.') return false;
    for (std::size_t i = 0; i < host.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(host[i]);
        if (c == '.') {
            if (host[i - 1] == '.') return false;
            continue;
        }
        if (!(IsAsciiLetter(c) || IsDigit(c) || c == '-' || c == '_' || c >= 0x80)) return false;
    }
    return true;
}

bool IsIpLiteral(const Text& host) {
    if (host.size() < 3 || host.front() != '[' || host.back() != ']') return false;
    for (std::size_t i = 1; i + 1 < host.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(host[i]);
        if (!(IsHex(c) || c == ':' || c == '.')) return false;
    }
    return true;
}

bool IsPort(const Text& port) {
    if (port.empty() || port.size() > 5) return false;
    unsigned value = 0;
    for (char c : port) {
        if (!IsDigit(static_cast<unsigned char>(c))) return false;
        value = value * 10 + unsigned(c - '0');
    }
    return value <= 65535;
}

}  // namespace

bool IsDownloadAddress(const Text& address) {
    for (const char* scheme : {"http://", "https://"}) {
        const int n = TextLength(scheme);
        if (FindText(address, scheme, 1, true) != 1) continue;
        const Text rest = MidText(address, n + 1, TextLength(address));
        const Text authority = rest.substr(0, rest.find_first_of("/?#"));
        // user[:password]@ is passed over; a second "@" is not an address.
        const std::size_t at = authority.find('@');
        if (at != Text::npos && authority.find('@', at + 1) != Text::npos) return false;
        const Text hostAndPort = at == Text::npos ? authority : authority.substr(at + 1);
        // A port follows the last ":" after an IP literal's "]", if any.
        const std::size_t close = hostAndPort.rfind(']');
        const std::size_t colon = hostAndPort.find(':', close == Text::npos ? 0 : close);
        const Text host = hostAndPort.substr(0, colon);
        if (colon != Text::npos && !IsPort(hostAndPort.substr(colon + 1))) return false;
        return IsDnsName(host) || IsIpLiteral(host);
    }
    return false;
}
