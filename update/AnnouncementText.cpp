#include "update/AnnouncementText.h"

namespace {

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The first `characters` characters of a GBK text, its unwanted control
// bytes dropped or shown as "?"; `cut` tells whether anything was left over.
Text Characters(const Text& text, int characters, bool keepLineBreaks, bool replace, bool* cut) {
    Text out;
    int n = 0;
    *cut = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool unwanted = IsControl(c) && !(keepLineBreaks && (c == '\r' || c == '\n'));
        if (unwanted && !replace) continue;
        if (n == characters) {
            *cut = true;
            break;
        }
        ++n;
        if (IsLeadByte(text[i]) && i + 1 < text.size()) {
            out += text.substr(i, 2);  // a double-byte character whole
            ++i;
        } else {
            out += unwanted ? '?' : char(c);
        }
    }
    return out;
}

}  // namespace

bool IsAnnouncedVersion(const Text& version) {
    if (version.empty() || version.size() > std::size_t(kMaxVersionLength)) return false;
    for (char c : version) {
        const bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.';
        if (!ok) return false;
    }
    return true;
}

Text CleanNote(const Text& note) {
    bool cut = false;
    return Characters(note, kMaxNoteCharacters, true, false, &cut);
}

Text AddressForBox(const Text& address) {
    bool cut = false;
    const Text shown = Characters(address, kShownAddressCharacters, false, true, &cut);
    return cut ? shown + "……" : shown;
}
