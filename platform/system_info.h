// The system version as GetVersionExW reports it (Wine: by the prefix's setting).
#pragma once
#include <windows.h>

bool GetSystemVersion(DWORD* major, DWORD* minor);
// 6.2 and later: the text-service road of the registration.
bool IsSystemAtLeast62();

// Why no window of this process can reach anybody: "session 0" (the
// services' session, which no user sees from Windows Vista on) or "a window
// station without a display" (a service or scheduled task that may not
// interact); null when a window can be seen.
const wchar_t* WhyNoWindowIsSeen();
