#pragma once
// The 8-byte running checksum of a file's content. Portable; on x86 a
// vectorised path is chosen once by what the processor and the OS support.
#include <cstddef>
#include <cstdint>

// The stored form: A (little-endian), B, C, D, E. All zero before the first byte.
struct ContentChecksum {
    unsigned char bytes[8];
};

// Feeds bytes in order; any chunking of one input gives the same state.
void UpdateContentChecksum(ContentChecksum& state, const void* data, size_t length);

inline bool SameChecksum(const ContentChecksum& a, const unsigned char* b)
{
    for (int i = 0; i < 8; ++i)
        if (a.bytes[i] != b[i])
            return false;
    return true;
}

// The implementations behind UpdateContentChecksum, for tests and benchmarks.
enum ChecksumPath { kChecksumScalar, kChecksumSse2, kChecksumAvx2 };
bool ChecksumPathSupported(ChecksumPath path);
// The fastest supported path, chosen on first use.
ChecksumPath SelectedChecksumPath();
// Runs one path; an unsupported one falls back to the scalar reference.
void UpdateContentChecksumWith(ChecksumPath path, ContentChecksum& state, const void* data,
                               size_t length);
