#include "package/ContentChecksum.h"
#include "package/PackageLayout.h"
#include "package/ChecksumKernels.h"
#if CHECKSUM_HAVE_X86_KERNELS
#include <cpuid.h>
#endif

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

#if CHECKSUM_HAVE_X86_KERNELS
// Asked of the processor directly: libgcc's feature table would cost the
// updater's image some 5 KB.
static bool ProcessorHasSse2()
{
    unsigned a, b, c, d;
    return __get_cpuid(1, &a, &b, &c, &d) && (d & bit_SSE2);
}

static bool ProcessorAndOsHaveAvx2()
{
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE) || !(c & bit_AVX))
        return false;
    // The OS must save the wide registers on a task switch (XCR0 bits 1 and 2).
    unsigned lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    if ((lo & 6) != 6)
        return false;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2);
}
#endif

bool ChecksumPathSupported(ChecksumPath path)
{
    switch (path) {
    case kChecksumScalar:
        return true;
#if CHECKSUM_HAVE_X86_KERNELS
    case kChecksumSse2: {
        static const bool sse2 = ProcessorHasSse2();  // asked once: cpuid traps in VMs
        return sse2;
    }
    case kChecksumAvx2: {
        static const bool avx2 = ProcessorAndOsHaveAvx2();
        return avx2;
    }
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
