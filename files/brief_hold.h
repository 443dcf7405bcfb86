// A file the setup has just written is often opened for a moment by an
// on-access scanner (or the search indexer) right after it is closed: a
// rename, a rewrite or a copy over it then fails with a sharing violation or
// access denied for a second or so. Such steps are tried again briefly
// before their failure counts.
#pragma once
#include <windows.h>

bool IsBriefHoldError(DWORD error);

// Runs attempt (a callable returning true on success, the error left in
// GetLastError otherwise) until it succeeds, fails with another error, or
// about two seconds have passed. The last error stays as the attempt left it.
template <typename Attempt>
bool RetryWhileBrieflyHeld(Attempt&& attempt)
{
    const int kRounds = 20;
    const DWORD kWaitMs = 100;
    for (int round = 0;; ++round) {
        if (attempt()) return true;
        DWORD error = GetLastError();
        if (round + 1 >= kRounds || !IsBriefHoldError(error)) {
            SetLastError(error);
            return false;
        }
        Sleep(kWaitMs);
    }
}
