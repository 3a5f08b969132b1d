// Checksum throughput of every supported path against the scalar reference,
// measured in the same run, alternating, median of several rounds.
#include "package/ContentChecksum.h"
#include <windows.h>
#include <algorithm>
#include <cstdio>
#include <vector>

static double SecondsFor(ChecksumPath path, const std::vector<unsigned char>& data)
{
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    ContentChecksum c = {};
    QueryPerformanceCounter(&a);
    for (size_t at = 0; at < data.size(); at += 1 << 20)
        UpdateContentChecksumWith(path, c, data.data() + at, std::min<size_t>(1 << 20, data.size() - at));
    QueryPerformanceCounter(&b);
    volatile unsigned char sink = c.bytes[0];
    (void)sink;
    return double(b.QuadPart - a.QuadPart) / double(f.QuadPart);
}

int main()
{
    std::vector<unsigned char> data(64u << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = (unsigned char)(i * 2654435761u >> 13);
    const ChecksumPath paths[] = {kChecksumScalar, kChecksumSse2, kChecksumAvx2};
    const char* names[] = {"scalar", "sse2", "avx2"};
    std::vector<double> times[3];
    for (int round = 0; round < 7; ++round)
        for (int p = 0; p < 3; ++p)
            if (ChecksumPathSupported(paths[p]))
                times[p].push_back(SecondsFor(paths[p], data));
    double scalar = 0;
    printf("%-8s %10s %8s\n", "path", "GB/s", "ratio");
    for (int p = 0; p < 3; ++p) {
        if (times[p].empty()) {
            printf("%-8s %10s %8s\n", names[p], "skipped", "-");
            continue;
        }
        std::sort(times[p].begin(), times[p].end());
        double gbps = data.size() / times[p][times[p].size() / 2] / 1e9;
        if (p == 0)
            scalar = gbps;
        printf("%-8s %10.2f %8.2f\n", names[p], gbps, gbps / scalar);
    }
    return 0;
}
