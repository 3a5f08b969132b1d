#include "package/ContentChecksum.h"
#include "package/PackageLayout.h"

void UpdateContentChecksum(ContentChecksum& state, const void* data, size_t length)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
    uint32_t a = ReadLe32(state.bytes);
    uint8_t b = state.bytes[4], c = state.bytes[5], d = state.bytes[6], e = state.bytes[7];
    for (size_t i = 0; i < length; ++i) {
        uint8_t x = p[i];
        a = a * 233u + x;
        uint8_t low = uint8_t(a);
        b = uint8_t(b + low);
        c ^= low;
        d = uint8_t(d + x);
        e ^= x;
    }
    WriteLe32(state.bytes, a);
    state.bytes[4] = b;
    state.bytes[5] = c;
    state.bytes[6] = d;
    state.bytes[7] = e;
}
