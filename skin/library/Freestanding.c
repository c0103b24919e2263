/* The compiler may turn structure copies and clears into calls to these;
   without a C runtime the library brings its own. */
#include <stddef.h>

void* memset(void* destination, int value, size_t count) {
    unsigned char* d = destination;
    while (count--) *d++ = (unsigned char)value;
    return destination;
}

void* memcpy(void* destination, const void* source, size_t count) {
    unsigned char* d = destination;
    const unsigned char* s = source;
    while (count--) *d++ = *s++;
    return destination;
}
