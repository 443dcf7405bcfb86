// A few threads working through the same list: one per processor, for the
// unpacking of the payload, which has nothing else to wait for.
#pragma once
#include <windows.h>

constexpr int kMaxWorkerThreads = 8;

struct WorkerThreads {
    HANDLE threads[kMaxWorkerThreads];
    int count;
};

// Threads the machine can run at once, at most `limit` and kMaxWorkerThreads,
// at least 1.
int UsefulThreadCount(int limit);

// Starts up to `wanted` threads running work(context); returns how many
// started (0 when none could: the caller then does the work itself). The
// unpacking needs little stack; work that calls into the shell, whose
// extensions may need much more, passes 0 for the program's default.
constexpr SIZE_T kSmallWorkerStack = 256 * 1024;
int StartWorkerThreads(WorkerThreads& group, int wanted, LPTHREAD_START_ROUTINE work, void* context,
                       SIZE_T stackReserve = kSmallWorkerStack);

// Waits for every started thread and releases them.
void JoinWorkerThreads(WorkerThreads& group);
