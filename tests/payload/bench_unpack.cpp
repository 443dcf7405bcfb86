// Times UnpackArchive on one archive, without the display pacing (no
// progress callback), and reports the process's peak memory:
// bench_unpack <archive> <destination folder>.
#include <windows.h>
#include <psapi.h>

#include <cstdio>

#include "payload/archive.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bench_unpack <archive> <destination>\n");
        return 2;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    bool ok = UnpackArchive(argv[1], argv[2], nullptr);
    QueryPerformanceCounter(&end);
    double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    unsigned long long peakKiB = 0;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory)) peakKiB = memory.PeakWorkingSetSize / 1024;
    std::printf("UnpackArchive: %s in %.1f ms, peak working set %llu KiB\n", ok ? "ok" : "FAILED", ms, peakKiB);
    return ok ? 0 : 1;
}
