// The compiler may emit calls to these for structure copies and clears even without a C
// runtime; the program supplies them. Test programs take the runtime's own.
#include <stddef.h>

extern "C" void *memset(void *block, int value, size_t size) {
    unsigned char *p = (unsigned char *)block;
    while (size--)
        *p++ = (unsigned char)value;
    return block;
}

extern "C" void *memcpy(void *target, const void *source, size_t size) {
    unsigned char *t = (unsigned char *)target;
    const unsigned char *s = (const unsigned char *)source;
    while (size--)
        *t++ = *s++;
    return target;
}
