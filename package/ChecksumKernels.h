#pragma once
// Vectorised checksum kernels over whole 64-byte blocks (x86 only).
#include "package/ContentChecksum.h"

#if defined(__i386__) || defined(__x86_64__)
#define CHECKSUM_HAVE_X86_KERNELS 1
void ChecksumBlocksSse2(ContentChecksum& state, const unsigned char* p, size_t blocks);
void ChecksumBlocksAvx2(ContentChecksum& state, const unsigned char* p, size_t blocks);
#else
#define CHECKSUM_HAVE_X86_KERNELS 0
#endif
