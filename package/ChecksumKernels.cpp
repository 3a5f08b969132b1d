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
// right low byte modulo 2^16); a second half of 8 lanes adds 233^(k+1)*s_7.
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
// The SSE2 kernel follows this as it stands; the AVX2 kernel rearranges it
// around pairs of bytes, which halves its scans and products (see there).
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
    int16_t weightLo[64], weightHi[64];        // halves of 233^(63-k), k = 0..63
    // AVX2: the low and the high halves of the odd positions' weights in a
    // 32-byte step, in the order of the pairs.
    int16_t oddWeights[2][16];
    int16_t oddPow[16], evenPow[16];            // 233^(k+1) for k = 2i+1 and k = 2i in a lane
    int16_t lanePow[16];                        // 1 in the lower 128-bit lane, 233^16 in the upper
    int8_t lastWord[32];                        // shuffle: each lane's last 16-bit value everywhere
    uint32_t pairBias;                          // 29952 * sum of the odd weights, per step
    uint32_t pow1, pow2, pow4, pow8, pow16, pow32, pow64;
    Tables()
    {
        for (int i = 0; i < 16; ++i) {
            scan1[i] = int16_t(Power233(1));
            scan2[i] = int16_t(Power233(2));
            scan4[i] = int16_t(Power233(4));
            half[i] = int16_t(Power233(i % 8 + 1));
        }
        for (int k = 0; k < 64; ++k) {
            uint32_t w = Power233(63 - k);
            int16_t lo = int16_t(uint16_t(w));
            weightLo[k] = lo;
            weightHi[k] = int16_t(uint16_t((w - uint32_t(int32_t(lo))) >> 16));
        }
        pairBias = 0;
        for (int i = 0; i < 16; ++i) {
            int k = 2 * i + 1;  // 16-bit lane i holds the pair ending at k
            uint32_t w = Power233(31 - k);
            oddWeights[0][i] = int16_t(uint16_t(w));
            oddWeights[1][i] = int16_t(uint16_t((w - uint32_t(int32_t(oddWeights[0][i]))) >> 16));
            pairBias += 128u * 234u * w;
        }
        for (int i = 0; i < 16; ++i) {
            oddPow[i] = int16_t(Power233(2 * (i % 8) + 2));
            evenPow[i] = int16_t(Power233(2 * (i % 8) + 1));
        }
        for (int i = 0; i < 16; ++i)
            lanePow[i] = int16_t(i < 8 ? 1 : Power233(16));
        for (int i = 0; i < 32; ++i)
            lastWord[i] = int8_t(14 + i % 2);
        pow1 = Power233(1);
        pow2 = Power233(2);
        pow4 = Power233(4);
        pow8 = Power233(8);
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

// ---- AVX2: 32-byte steps, two per block ----
//
// Pairs first. With y = x xor 0x80 read as a signed byte (x - 128), pmaddubsw
// with the bytes (233, 1) gives for every pair, exactly in 16 bits,
//     O_i = 233*x_2i + x_2i+1 - 128*234.
// 128*234 = 117*256, so O_i is also the first scan step at the odd position
// 2i+1 (mod 256), and it is the pair's term of A's dot product up to a
// constant:  sum_k W_k x_k = sum_i W_2i+1 (O_i + 29952), as W_2i = 233 W_2i+1.
//
// Per 128-bit lane (16 bytes, 8 pairs) O is scanned in 16-bit lanes with
// 233^2, 233^4, 233^8: O_i = s_2i+1 from a zero start. The even positions
// follow in one step, s_2i = 233*s_2i-1 + x_2i, where the 16-bit lanes of the
// input itself serve as x_2i (their high byte only touches bits that never
// reach a low byte).
//
// The lanes' true starts are l for the lower lane and L_15 for the upper one,
// so L = s + start*233^(k+1) takes one product per half. The carry to the
// next step stays in a vector: l' = z + 233^32*l, with z the step's L_31 from
// a zero start, so the only chain from step to step is one multiply and one
// add. A's dot products (weights 233^(31-k) over a step) stay in eight 32-bit
// lanes, carried from step to step by a lane-wise Horner step (acc*233^32 +
// dot) and summed across lanes once per call; the constant 29952*sum W_2i+1
// goes to a scalar Horner beside. One accumulator and one pair of weight
// vectors: the i686 build has only eight vector registers.

__attribute__((target("avx2"))) void ChecksumBlocksAvx2(ContentChecksum& state,
                                                        const unsigned char* p, size_t blocks)
{
    const Tables& t = GetTables();
    Scalars s = Load(state);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i bias = _mm256_set1_epi8(int8_t(0x80));
    const __m256i pair = _mm256_set1_epi16(int16_t(0x01E9));  // bytes 233, 1
    const __m256i p1 = _mm256_set1_epi16(int16_t(t.pow1));
    const __m256i p2 = _mm256_set1_epi16(int16_t(t.pow2));
    const __m256i p4 = _mm256_set1_epi16(int16_t(t.pow4));
    const __m256i p8 = _mm256_set1_epi16(int16_t(t.pow8));
    const __m256i p16 = _mm256_set1_epi16(int16_t(t.pow16));
    const __m256i p32 = _mm256_set1_epi16(int16_t(t.pow32));
    const __m256i p32x = _mm256_set1_epi32(int32_t(t.pow32));
    const __m256i oddPow = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.oddPow));
    const __m256i evenPow = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.evenPow));
    const __m256i lanePow = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.lanePow));
    const __m256i lastWord = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(t.lastWord));
    const __m256i* weights = reinterpret_cast<const __m256i*>(t.oddWeights);
    __m256i l = _mm256_set1_epi16(int16_t(s.l));
    __m256i sumL = zero, xorL = zero, sumX = zero, xorX = zero, acc = zero;
    for (size_t step = 0; step < 2 * blocks; ++step, p += 32) {
        __m256i x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        sumX = _mm256_add_epi64(sumX, _mm256_sad_epu8(x, zero));
        xorX = _mm256_xor_si256(xorX, x);
        __m256i o = _mm256_maddubs_epi16(pair, _mm256_xor_si256(x, bias));
        __m256i dot = _mm256_add_epi32(_mm256_madd_epi16(o, _mm256_loadu_si256(weights)),
                                       _mm256_slli_epi32(_mm256_madd_epi16(o, _mm256_loadu_si256(weights + 1)), 16));
        acc = _mm256_add_epi32(_mm256_mullo_epi32(acc, p32x), dot);
        // Odd positions, then even ones, within each lane from a zero start.
        o = _mm256_add_epi16(o, _mm256_mullo_epi16(_mm256_slli_si256(o, 2), p2));
        o = _mm256_add_epi16(o, _mm256_mullo_epi16(_mm256_slli_si256(o, 4), p4));
        o = _mm256_add_epi16(o, _mm256_mullo_epi16(_mm256_slli_si256(o, 8), p8));
        __m256i e = _mm256_add_epi16(x, _mm256_mullo_epi16(_mm256_slli_si256(o, 2), p1));
        __m256i last = _mm256_shuffle_epi8(o, lastWord);             // each lane's last value
        __m256i lower = _mm256_permute2x128_si256(last, last, 0x08);  // 0 | the lower lane's
        __m256i start = _mm256_add_epi16(lower, _mm256_mullo_epi16(l, lanePow));
        __m256i aOdd = _mm256_add_epi16(o, _mm256_mullo_epi16(start, oddPow));
        __m256i aEven = _mm256_add_epi16(e, _mm256_mullo_epi16(start, evenPow));
        sumL = _mm256_add_epi16(sumL, _mm256_add_epi16(aOdd, aEven));
        xorL = _mm256_xor_si256(xorL, _mm256_xor_si256(aOdd, aEven));
        __m256i z = _mm256_add_epi16(last, _mm256_mullo_epi16(lower, p16));
        l = _mm256_add_epi16(_mm256_permute2x128_si256(z, z, 0x11), _mm256_mullo_epi16(l, p32));
        s.a = s.a * t.pow32 + t.pairBias;
    }
    __m128i d = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
    d = _mm_add_epi32(d, _mm_shuffle_epi32(d, 0x4E));
    d = _mm_add_epi32(d, _mm_shuffle_epi32(d, 0xB1));
    s.a += uint32_t(_mm_cvtsi128_si32(d));
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
