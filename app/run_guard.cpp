#include "app/run_guard.h"

#include <windows.h>

namespace {
// Global: one guard for every session of the machine.
const wchar_t kGuardName[] = L"Global\\ZerdaIME3.Setup.Run";
}

bool AcquireRunGuard()
{
    HANDLE guard = CreateMutexW(nullptr, FALSE, kGuardName);
    if (!guard) return false;
    DWORD wait = WaitForSingleObject(guard, 0);
    // An abandoned guard belonged to a run that was killed: this run may
    // finish its work.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) return true;
    CloseHandle(guard);
    return false;
}
