// The system version as GetVersionExW reports it (Wine: by the prefix's setting).
#pragma once
#include <windows.h>

bool GetSystemVersion(DWORD* major, DWORD* minor);
// 6.2 and later: the text-service road of the registration.
bool IsSystemAtLeast62();
