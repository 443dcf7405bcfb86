#include "platform/system_info.h"

bool GetSystemVersion(DWORD* major, DWORD* minor)
{
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExW(&info)) return false;
    if (major) *major = info.dwMajorVersion;
    if (minor) *minor = info.dwMinorVersion;
    return true;
}

bool IsSystemAtLeast62()
{
    DWORD major = 0, minor = 0;
    if (!GetSystemVersion(&major, &minor)) return false;
    return major > 6 || (major == 6 && minor >= 2);
}
