// Data compiled into the executable as RCDATA resources.
#pragma once

#include "runtime/Text.h"

// The resource's bytes, mapped with the executable; empty when it is missing.
ByteSpan ResourceBytes(const char* name);
