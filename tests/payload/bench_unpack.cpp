// Times UnpackArchive on one archive, without the display pacing (no
// progress callback): bench_unpack <archive> <destination folder>.
#include <windows.h>

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
    std::printf("UnpackArchive: %s in %.1f ms\n", ok ? "ok" : "FAILED", ms);
    return ok ? 0 : 1;
}
