#include "package/ContentChecksum.h"
#include "package/PackageLayout.h"
#include "package/ChecksumKernels.h"

// The reference: one byte at a time, exactly as the format defines it.
static void UpdateScalar(ContentChecksum& state, const unsigned char* p, size_t length)
{
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

bool ChecksumPathSupported(ChecksumPath path)
{
    switch (path) {
    case kChecksumScalar:
        return true;
#if CHECKSUM_HAVE_X86_KERNELS
    case kChecksumSse2:
        __builtin_cpu_init();
        return __builtin_cpu_supports("sse2");
    case kChecksumAvx2:
        // libgcc reports AVX2 only when the OS also saves the wide registers.
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2");
#endif
    default:
        return false;
    }
}

ChecksumPath SelectedChecksumPath()
{
    static const ChecksumPath chosen = ChecksumPathSupported(kChecksumAvx2)   ? kChecksumAvx2
                                       : ChecksumPathSupported(kChecksumSse2) ? kChecksumSse2
                                                                              : kChecksumScalar;
    return chosen;
}

void UpdateContentChecksumWith(ChecksumPath path, ContentChecksum& state, const void* data,
                               size_t length)
{
    const unsigned char* p = static_cast<const unsigned char*>(data);
#if CHECKSUM_HAVE_X86_KERNELS
    // The kernels take whole 64-byte blocks; the rest goes byte by byte.
    size_t blocks = length / 64;
    if (blocks != 0 && path != kChecksumScalar && ChecksumPathSupported(path)) {
        if (path == kChecksumAvx2)
            ChecksumBlocksAvx2(state, p, blocks);
        else
            ChecksumBlocksSse2(state, p, blocks);
        p += blocks * 64;
        length -= blocks * 64;
    }
#else
    (void)path;
#endif
    UpdateScalar(state, p, length);
}

void UpdateContentChecksum(ContentChecksum& state, const void* data, size_t length)
{
    UpdateContentChecksumWith(SelectedChecksumPath(), state, data, length);
}
