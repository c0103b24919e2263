#include "update/TextBetween.h"

#include "runtime/Encoding.h"

Text TextBetween(const Text& text, const Text& startMarker, const Text& endMarker, int from,
                 bool caseSensitive) {
    const Text start = ReplaceText(startMarker, "#引号", "\"");
    const Text end = ReplaceText(endMarker, "#引号", "\"");
    int p = FindText(text, start, from, !caseSensitive);
    if (p != -1) p += TextLength(start);
    const int q = p == -1 ? -1 : FindText(text, end, p, !caseSensitive);
    if (p == -1 || q == -1) return Text();
    return MidText(text, p, q - p);
}

Text Utf8ToGbk(const Text& utf8) {
    return WideToGbk(Utf8ToWide(ByteSpan(utf8.data(), TextLength(utf8))));
}
