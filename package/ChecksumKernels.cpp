// How the checksum parallelises.
//
// Per byte x the state moves as  A := A*233 + x (mod 2^32),  L := low byte of A,
// B += L, C ^= L, D += x, E ^= x. D and E are plain sums and exclusive-ors of the
// input, so they take whole vectors at a time. A and L are linear recurrences.
//
// L: the low byte of A depends only on the low byte before it, because the
// low byte of a product or sum needs only the low bytes of its operands. So
// L_k = 233*L_{k-1} + x_k (mod 256). Unrolled over a block that starts with
// low byte l:
//     L_k = s_k + 233^(k+1) * l,   s_k = sum_{j<=k} 233^(k-j) * x_j   (mod 256).
// s is a prefix scan: in 16-bit lanes, s := s + 233*shift(s,1), then
// s + 233^2*shift(s,2), s + 233^4*shift(s,4) scans 8 lanes (products keep the
// right low byte modulo 2^16); a second half of 8 lanes adds 233^(k+1)*s_7,
// and in AVX2 the upper 128-bit lane adds 233^(k+1)*s_15 of the lower one.
// The carry from block to block is one scalar multiply-add:
//     l' = s_last + 233^n * l.
// With l known, L_k = s_k + P_k*l for a vector of powers P; B takes the sum and
// C the exclusive-or of these lanes (only their low bytes count).
//
// A: over a block of n bytes,  A' = 233^n * A + sum_k 233^(n-1-k) * x_k, a
// Horner step whose sum is a dot product of the bytes with fixed weights
// W_k = 233^(n-1-k) mod 2^32. Each weight is split into signed 16-bit halves,
// W = hi*2^16 + lo, so that pmaddwd forms the exact 32-bit products; the dot
// product is sum(x*lo) + 2^16*sum(x*hi) modulo 2^32. One reduction per 64-byte
// block feeds the scalar step A' = 233^64*A + dot.
//
// Lanes wrap modulo 2^16 or 2^32 only, which keeps every low byte exact; the
// state between calls is the 8 stored bytes alone.
#include "package/ChecksumKernels.h"

#if CHECKSUM_HAVE_X86_KERNELS
#include "package/PackageLayout.h"
#include <immintrin.h>

namespace {

uint32_t Power233(unsigned n)
{
    uint32_t p = 1;
    while (n--)
        p *= 233u;
    return p;
}

// Powers and weights, laid out for the kernels' lanes.
struct Tables {
    int16_t scan1[16], scan2[16], scan4[16];  // 233, 233^2, 233^4 in every lane
    int16_t half[16];                         // 233^(k+1), k = 0..7, in both 128-bit lanes
    int16_t carryLo[16], carryHi[16];          // 233^(k+1) for positions of a 32-byte block
    int16_t weightLo[64], weightHi[64];        // halves of 233^(63-k), k = 0..63
    uint32_t pow16, pow32, pow64;
    Tables()
    {
        for (int i = 0; i < 16; ++i) {
            scan1[i] = int16_t(Power233(1));
            scan2[i] = int16_t(Power233(2));
            scan4[i] = int16_t(Power233(4));
            half[i] = int16_t(Power233(i % 8 + 1));
            // The AVX2 unpacks hold positions 0-7 | 16-23 and 8-15 | 24-31.
            int lo = (i < 8) ? i : i + 8;
            carryLo[i] = int16_t(Power233(lo + 1));
            carryHi[i] = int16_t(Power233(lo + 8 + 1));
        }
        for (int k = 0; k < 64; ++k) {
            uint32_t w = Power233(63 - k);
            int16_t lo = int16_t(uint16_t(w));
            weightLo[k] = lo;
            weightHi[k] = int16_t(uint16_t((w - uint32_t(int32_t(lo))) >> 16));
        }
        pow16 = Power233(16);
        pow32 = Power233(32);
        pow64 = Power233(64);
    }
};

const Tables& GetTables()
{
    static const Tables tables;
    return tables;
}

struct Scalars {
    uint32_t a;
    uint32_t l;  // only its low byte counts
    uint32_t b, c, d, e;
};

Scalars Load(const ContentChecksum& state)
{
    uint32_t a = ReadLe32(state.bytes);
    return Scalars{a, a, state.bytes[4], state.bytes[5], state.bytes[6], state.bytes[7]};
}

void Store(ContentChecksum& state, const Scalars& s)
{
    WriteLe32(state.bytes, s.a);
    state.bytes[4] = uint8_t(s.b);
    state.bytes[5] = uint8_t(s.c);
    state.bytes[6] = uint8_t(s.d);
    state.bytes[7] = uint8_t(s.e);
}

// ---- SSE2: four 16-byte steps per block ----

__attribute__((target("sse2"))) inline __m128i Scan8(__m128i v, const Tables& t)
{
    const __m128i* s1 = reinterpret_cast<const __m128i*>(t.scan1);
    const __m128i* s2 = reinterpret_cast<const __m128i*>(t.scan2);
    const __m128i* s4 = reinterpret_cast<const __m128i*>(t.scan4);
    v = _mm_add_epi16(v, _mm_mullo_epi16(_mm_slli_si128(v, 2), _mm_loadu_si128(s1)));
    v = _mm_add_epi16(v, _mm_mullo_epi16(_mm_slli_si128(v, 4), _mm_loadu_si128(s2)));
    v = _mm_add_epi16(v, _mm_mullo_epi16(_mm_slli_si128(v, 8), _mm_loadu_si128(s4)));
    return v;
}

__attribute__((target("sse2"))) inline __m128i BroadcastLast16(__m128i v)
{
    __m128i t = _mm_shufflehi_epi16(v, 0xFF);
    return _mm_unpackhi_epi64(t, t);
}

__attribute__((target("sse2"))) inline uint32_t SumLanes32(__m128i v)
{
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
    return uint32_t(_mm_cvtsi128_si32(v));
}

}  // namespace

__attribute__((target("sse2"))) void ChecksumBlocksSse2(ContentChecksum& state,
                                                        const unsigned char* p, size_t blocks)
{
    const Tables& t = GetTables();
    Scalars s = Load(state);
    const __m128i zero = _mm_setzero_si128();
    const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t.half));
    // 233^(k+1) for k = 0..7 and for k = 8..15.
    const __m128i carryLo = half;
    const __m128i carryHi = _mm_mullo_epi16(half, _mm_set1_epi16(int16_t(Power233(8))));
    __m128i sumL = zero, xorL = zero, sumX = zero, xorX = zero;
    for (size_t b = 0; b < blocks; ++b, p += 64) {
        __m128i dot = zero;
        for (int step = 0; step < 4; ++step) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * step));
            sumX = _mm_add_epi64(sumX, _mm_sad_epu8(x, zero));
            xorX = _mm_xor_si128(xorX, x);
            __m128i lo = _mm_unpacklo_epi8(x, zero);
            __m128i hi = _mm_unpackhi_epi8(x, zero);
            const __m128i* wl = reinterpret_cast<const __m128i*>(t.weightLo + 16 * step);
            const __m128i* wh = reinterpret_cast<const __m128i*>(t.weightHi + 16 * step);
            __m128i dlo = _mm_add_epi32(_mm_madd_epi16(lo, _mm_loadu_si128(wl)),
                                        _mm_madd_epi16(hi, _mm_loadu_si128(wl + 1)));
            __m128i dhi = _mm_add_epi32(_mm_madd_epi16(lo, _mm_loadu_si128(wh)),
                                        _mm_madd_epi16(hi, _mm_loadu_si128(wh + 1)));
            dot = _mm_add_epi32(dot, _mm_add_epi32(dlo, _mm_slli_epi32(dhi, 16)));
            // Low bytes of A over these 16 bytes.
            __m128i s0 = Scan8(lo, t);
            __m128i s1 = _mm_add_epi16(Scan8(hi, t), _mm_mullo_epi16(BroadcastLast16(s0), half));
            __m128i l = _mm_set1_epi16(int16_t(s.l));
            __m128i a0 = _mm_add_epi16(s0, _mm_mullo_epi16(l, carryLo));
            __m128i a1 = _mm_add_epi16(s1, _mm_mullo_epi16(l, carryHi));
            sumL = _mm_add_epi16(sumL, _mm_add_epi16(a0, a1));
            xorL = _mm_xor_si128(xorL, _mm_xor_si128(a0, a1));
            s.l = uint32_t(_mm_extract_epi16(s1, 7)) + t.pow16 * s.l;
        }
        s.a = s.a * t.pow64 + SumLanes32(dot);
    }
    alignas(16) uint16_t lanes[8];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), sumL);
    for (uint16_t v : lanes)
        s.b += v;
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), xorL);
    for (uint16_t v : lanes)
        s.c ^= v;
    alignas(16) uint64_t sums[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(sums), sumX);
    s.d += uint32_t(sums[0] + sums[1]);
    alignas(16) unsigned char bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), xorX);
    for (unsigned char v : bytes)
        s.e ^= v;
    Store(state, s);
}

// ---- AVX2: two 32-byte steps per block ----

namespace {

__attribute__((target("avx2"))) inline __m256i Scan8x2(__m256i v, const Tables& t)
{
    const __m256i* s1 = reinterpret_cast<const __m256i*>(t.scan1);
    const __m256i* s2 = reinterpret_cast<const __m256i*>(t.scan2);
    const __m256i* s4 = reinterpret_cast<const __m256i*>(t.scan4);
    v = _mm256_add_epi16(v, _mm256_mullo_epi16(_mm256_slli_si256(v, 2), _mm256_loadu_si256(s1)));
    v = _mm256_add_epi16(v, _mm256_mullo_epi16(_mm256_slli_si256(v, 4), _mm256_loadu_si256(s2)));
    v = _mm256_add_epi16(v, _mm256_mullo_epi16(_mm256_slli_si256(v, 8), _mm256_loadu_si256(s4)));
    return v;
}

__attribute__((target("avx2"))) inline __m256i BroadcastLast16x2(__m256i v)
{
    __m256i t = _mm256_shufflehi_epi16(v, 0xFF);
    return _mm256_unpackhi_epi64(t, t);
}

}  // namespace

__attribute__((target("avx2"))) void ChecksumBlocksAvx2(ContentChecksum& state,
                                                        const unsigned char* p, size_t blocks)
{
    const Tables& t = GetTables();
    Scalars s = Load(state);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i half = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.half));
    const __m256i carryLo = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.carryLo));
    const __m256i carryHi = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.carryHi));
    // 233^(k+9): the upper 8 positions of a 16-byte lane, after its lower 8.
    const __m256i half9 = _mm256_mullo_epi16(half, _mm256_set1_epi16(int16_t(Power233(8))));
    __m256i sumL = zero, xorL = zero, sumX = zero, xorX = zero;
    for (size_t b = 0; b < blocks; ++b, p += 64) {
        __m256i dot = zero;
        for (int step = 0; step < 2; ++step) {
            __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * step));
            sumX = _mm256_add_epi64(sumX, _mm256_sad_epu8(x, zero));
            xorX = _mm256_xor_si256(xorX, x);
            // Positions 0-7 | 16-23 and 8-15 | 24-31.
            __m256i lo = _mm256_unpacklo_epi8(x, zero);
            __m256i hi = _mm256_unpackhi_epi8(x, zero);
            const int16_t* wl = t.weightLo + 32 * step;
            const int16_t* wh = t.weightHi + 32 * step;
            __m256i wLo = _mm256_setr_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(wl)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(wl + 16)));
            __m256i wLo2 = _mm256_setr_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(wl + 8)),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(wl + 24)));
            __m256i wHi = _mm256_setr_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(wh)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(wh + 16)));
            __m256i wHi2 = _mm256_setr_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(wh + 8)),
                                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(wh + 24)));
            __m256i dlo = _mm256_add_epi32(_mm256_madd_epi16(lo, wLo), _mm256_madd_epi16(hi, wLo2));
            __m256i dhi = _mm256_add_epi32(_mm256_madd_epi16(lo, wHi), _mm256_madd_epi16(hi, wHi2));
            dot = _mm256_add_epi32(dot, _mm256_add_epi32(dlo, _mm256_slli_epi32(dhi, 16)));
            // Scans within each 16-byte lane, from a zero start.
            __m256i s0 = Scan8x2(lo, t);
            __m256i s1 = _mm256_add_epi16(Scan8x2(hi, t),
                                          _mm256_mullo_epi16(BroadcastLast16x2(s0), half));
            // The upper lane continues from the lower lane's last value.
            __m256i last = _mm256_permute2x128_si256(BroadcastLast16x2(s1), BroadcastLast16x2(s1), 0x08);
            s0 = _mm256_add_epi16(s0, _mm256_mullo_epi16(last, half));
            s1 = _mm256_add_epi16(s1, _mm256_mullo_epi16(last, half9));
            __m256i l = _mm256_set1_epi16(int16_t(s.l));
            __m256i a0 = _mm256_add_epi16(s0, _mm256_mullo_epi16(l, carryLo));
            __m256i a1 = _mm256_add_epi16(s1, _mm256_mullo_epi16(l, carryHi));
            sumL = _mm256_add_epi16(sumL, _mm256_add_epi16(a0, a1));
            xorL = _mm256_xor_si256(xorL, _mm256_xor_si256(a0, a1));
            s.l = uint32_t(_mm256_extract_epi16(s1, 15)) + t.pow32 * s.l;
        }
        __m128i d = _mm_add_epi32(_mm256_castsi256_si128(dot), _mm256_extracti128_si256(dot, 1));
        d = _mm_add_epi32(d, _mm_shuffle_epi32(d, 0x4E));
        d = _mm_add_epi32(d, _mm_shuffle_epi32(d, 0xB1));
        s.a = s.a * t.pow64 + uint32_t(_mm_cvtsi128_si32(d));
    }
    alignas(32) uint16_t lanes[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), sumL);
    for (uint16_t v : lanes)
        s.b += v;
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), xorL);
    for (uint16_t v : lanes)
        s.c ^= v;
    alignas(32) uint64_t sums[4];
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums), sumX);
    s.d += uint32_t(sums[0] + sums[1] + sums[2] + sums[3]);
    alignas(32) unsigned char bytes[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(bytes), xorX);
    for (unsigned char v : bytes)
        s.e ^= v;
    Store(state, s);
    // At -Os GCC leaves out the vzeroupper it adds at -O2: without it, the
    // SSE code that runs next (other paths, the C library) pays for the dirty
    // upper halves, about 3x on the SSE2 path.
    _mm256_zeroupper();
}

#endif
