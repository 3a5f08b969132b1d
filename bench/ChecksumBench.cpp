// Checksum throughput of every supported path against the scalar reference,
// measured in the same run, alternating, median of several rounds. Builds for
// Windows (the updater's i686 code, run under Wine) and natively for Linux
// (bench/native), so both can be compared on one machine.
// Usage: checksum_bench [rounds [path]]   (default 5 rounds, every path;
// naming one path, such as avx2, runs only that one, for a profiler)
#include "package/ContentChecksum.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <chrono>
#endif

static double Now()
{
#ifdef _WIN32
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

// In 1 MiB updates, as the install run feeds it.
static double SecondsFor(ChecksumPath path, const std::vector<unsigned char>& data)
{
    ContentChecksum c = {};
    double start = Now();
    for (size_t at = 0; at < data.size(); at += 1 << 20)
        UpdateContentChecksumWith(path, c, data.data() + at, std::min<size_t>(1 << 20, data.size() - at));
    double seconds = Now() - start;
    volatile unsigned char sink = c.bytes[0];
    (void)sink;
    return seconds;
}

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 5;
    if (rounds < 1)
        rounds = 1;
    const char* only = argc > 2 ? argv[2] : nullptr;
    // 64 MiB: far beyond the caches, as a file being installed is.
    std::vector<unsigned char> data(64u << 20);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = (unsigned char)(i * 2654435761u >> 13);
    const ChecksumPath paths[] = {kChecksumScalar, kChecksumSse2, kChecksumAvx2};
    const char* names[] = {"scalar", "sse2", "avx2"};
    std::vector<double> times[3];
    for (int round = 0; round < rounds; ++round)
        for (int p = 0; p < 3; ++p)
            if (ChecksumPathSupported(paths[p]) && (!only || strcmp(only, names[p]) == 0))
                times[p].push_back(SecondsFor(paths[p], data));
    double scalar = 0;
    printf("%-8s %10s %8s\n", "path", "GB/s", "ratio");
    for (int p = 0; p < 3; ++p) {
        if (times[p].empty()) {
            // "unsupported": this processor or OS cannot run it; "-": not asked for.
            printf("%-8s %10s %8s\n", names[p], ChecksumPathSupported(paths[p]) ? "-" : "unsupported", "-");
            continue;
        }
        std::sort(times[p].begin(), times[p].end());
        double gbps = data.size() / times[p][times[p].size() / 2] / 1e9;
        if (p == 0)
            scalar = gbps;
        if (scalar > 0)
            printf("%-8s %10.2f %8.2f\n", names[p], gbps, gbps / scalar);
        else
            printf("%-8s %10.2f %8s\n", names[p], gbps, "-");
    }
    return 0;
}
