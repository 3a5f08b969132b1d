// The install run on a real package, timed inside the process, and the same
// bytes put through each of the run's phases alone, so that scripts/bench.sh
// can say where the run's time goes. No dialog: the run then touches no
// control, as in the install tests.
//
//   install_bench install PACKAGE FOLDER   one RunInstall(FOLDER) of PACKAGE
//   install_bench phases PACKAGE SCRATCH   write, flush, move, read and
//                                          checksum passes over PACKAGE's entries
//
// Prints key=value lines: seconds, bytes, memory counters.
#include "install/RunInstall.h"
#include "package/ArchiveIndex.h"
#include "package/ContentChecksum.h"
#include "package/PackageFile.h"
#include "sys/FileHandle.h"
#include "sys/FixedText.h"
#include <windows.h>
#include <psapi.h>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kChunk = 1024 * 1024;  // the install run's buffer

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

void PrintMemory(const char* when)
{
    PROCESS_MEMORY_COUNTERS m = {};
    m.cb = sizeof m;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &m, sizeof m)) {
        printf("%s_memory=unavailable\n", when);
        return;
    }
    printf("%s_peak_working_set=%llu\n", when, (unsigned long long)m.PeakWorkingSetSize);
    printf("%s_working_set=%llu\n", when, (unsigned long long)m.WorkingSetSize);
    printf("%s_peak_pagefile=%llu\n", when, (unsigned long long)m.PeakPagefileUsage);
    printf("%s_pagefile=%llu\n", when, (unsigned long long)m.PagefileUsage);
}

int Install(const char* package, const char* folder)
{
    // Before anything of the run: its peak is what it adds to this one.
    PrintMemory("before");
    PackageFileOverride = package;
    double start = Now();
    InstallResult result = RunInstall(folder);
    double seconds = Now() - start;
    PrintMemory("after");
    printf("result=0x%08lX\n", (unsigned long)result);
    printf("install_seconds=%.6f\n", seconds);
    return result == kInstallOk ? 0 : 1;
}

const char* PathName(ChecksumPath path)
{
    return path == kChecksumAvx2 ? "avx2" : path == kChecksumSse2 ? "sse2" : "scalar";
}

// The run's checksum work, entry by entry in chunks, over the buffer in memory.
double ChecksumSeconds(ChecksumPath path, const ArchiveIndex& index, const unsigned char* buffer)
{
    double start = Now();
    unsigned sink = 0;
    for (uint32_t i = 0; i < index.count; ++i) {
        ContentChecksum c = {};
        for (uint32_t left = GetArchiveEntry(index, i).size; left > 0;) {
            uint32_t n = left < kChunk ? left : kChunk;
            UpdateContentChecksumWith(path, c, buffer, n);
            left -= n;
        }
        sink += c.bytes[0];
    }
    double seconds = Now() - start;
    volatile unsigned keep = sink;
    (void)keep;
    return seconds;
}

int Fail(const char* what, const char* path)
{
    fprintf(stderr, "install_bench: %s %s (error %lu)\n", what, path, GetLastError());
    return 2;
}

int Phases(const char* package, const char* scratch)
{
    FileHandle file;
    if (!file.OpenRead(package))
        return Fail("cannot open", package);
    ArchiveIndex index;
    if (ReadArchiveIndex(file, index) != kInstallOk)
        return Fail("no archive index in", package);
    unsigned char* buffer = new unsigned char[kChunk];
    memset(buffer, 0x5A, kChunk);
    int status = 0;

    // Write first, while the memory that scripts/bench.sh has just touched is
    // still the guest's (see there); then flush each file before closing it,
    // as the run stages them.
    uint64_t total = 0;
    double write = 0, flush = 0;
    for (uint32_t i = 0; i < index.count && status == 0; ++i) {
        ArchiveEntry entry = GetArchiveEntry(index, i);
        char temporary[kPathBufferSize];
        if (!JoinPath(temporary, scratch, entry.name, ".tmp")) {
            status = Fail("path too long for", entry.name);
            break;
        }
        double t0 = Now();
        FileHandle out;
        if (!out.OpenWrite(temporary)) {
            status = Fail("cannot create", temporary);
            break;
        }
        for (uint32_t left = entry.size; left > 0 && status == 0;) {
            uint32_t n = left < kChunk ? left : kChunk;
            if (out.Write(buffer, n) != n)
                status = Fail("short write to", temporary);
            left -= n;
        }
        double t1 = Now();
        if (!out.Flush())
            status = Fail("cannot flush", temporary);
        double t2 = Now();
        out.Close();
        write += (t1 - t0) + (Now() - t2);
        flush += t2 - t1;
    }

    // Move every staged file over its final name, then remove them again.
    double move = 0;
    for (uint32_t i = 0; i < index.count && status == 0; ++i) {
        char temporary[kPathBufferSize], final[kPathBufferSize];
        const char* name = GetArchiveEntry(index, i).name;
        if (!JoinPath(temporary, scratch, name, ".tmp") || !JoinPath(final, scratch, name, "")) {
            status = Fail("path too long for", name);
            break;
        }
        double t0 = Now();
        if (!MoveIntoPlace(temporary, final))
            status = Fail("cannot move", temporary);
        move += Now() - t0;
    }
    for (uint32_t i = 0; i < index.count; ++i) {
        char path[kPathBufferSize];
        const char* name = GetArchiveEntry(index, i).name;
        if (JoinPath(path, scratch, name, ".tmp"))
            DeleteFileA(path);
        if (JoinPath(path, scratch, name, ""))
            DeleteFileA(path);
    }

    // Read: one seek per entry, then its chunks, as the run reads them.
    double start = Now();
    for (uint32_t i = 0; i < index.count && status == 0; ++i) {
        ArchiveEntry entry = GetArchiveEntry(index, i);
        if (!file.SeekTo(EntryPosition(index, entry)))
            status = Fail("cannot seek in", package);
        for (uint32_t left = entry.size; left > 0 && status == 0;) {
            uint32_t n = left < kChunk ? left : kChunk;
            if (file.Read(buffer, n) != n)
                status = Fail("short read in", package);
            left -= n;
            total += n;
        }
    }
    double read = Now() - start;

    double checksum = ChecksumSeconds(SelectedChecksumPath(), index, buffer);
    double scalar = ChecksumSeconds(kChecksumScalar, index, buffer);

    printf("files=%lu\n", (unsigned long)index.count);
    printf("bytes=%llu\n", (unsigned long long)total);
    printf("checksum_path=%s\n", PathName(SelectedChecksumPath()));
    printf("read_seconds=%.6f\n", read);
    printf("checksum_seconds=%.6f\n", checksum);
    printf("checksum_scalar_seconds=%.6f\n", scalar);
    printf("write_seconds=%.6f\n", write);
    printf("flush_seconds=%.6f\n", flush);
    printf("move_seconds=%.6f\n", move);
    delete[] buffer;
    FreeArchiveIndex(index);
    return status;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], "install") == 0)
        return Install(argv[2], argv[3]);
    if (argc == 4 && strcmp(argv[1], "phases") == 0)
        return Phases(argv[2], argv[3]);
    fprintf(stderr, "usage: install_bench install PACKAGE FOLDER | phases PACKAGE SCRATCH\n");
    return 2;
}
