// Cutting values out of the announcement pages.
#pragma once

#include "runtime/Text.h"

// The text strictly between the first startMarker found from position `from`
// and the first endMarker after it; empty when either is missing. "#引号" in a
// marker stands for a double quote.
Text TextBetween(const Text& text, const Text& startMarker, const Text& endMarker, int from = 0,
                 bool caseSensitive = false);

// The bytes of the text taken as UTF-8, converted to GBK.
Text Utf8ToGbk(const Text& utf8);
