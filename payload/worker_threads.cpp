#include "payload/worker_threads.h"

int UsefulThreadCount(int limit)
{
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    int count = static_cast<int>(info.dwNumberOfProcessors);
    if (count > kMaxWorkerThreads) count = kMaxWorkerThreads;
    if (count > limit) count = limit;
    return count < 1 ? 1 : count;
}

int StartWorkerThreads(WorkerThreads& group, int wanted, LPTHREAD_START_ROUTINE work, void* context,
                       SIZE_T stackReserve)
{
    group.count = 0;
    if (wanted > kMaxWorkerThreads) wanted = kMaxWorkerThreads;
    while (group.count < wanted) {
        HANDLE thread = CreateThread(nullptr, stackReserve, work, context, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
        if (!thread) break;
        group.threads[group.count++] = thread;
    }
    return group.count;
}

void JoinWorkerThreads(WorkerThreads& group)
{
    if (group.count > 0) WaitForMultipleObjects(static_cast<DWORD>(group.count), group.threads, TRUE, INFINITE);
    for (int i = 0; i < group.count; ++i) CloseHandle(group.threads[i]);
    group.count = 0;
}
