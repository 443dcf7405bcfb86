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

const wchar_t* WhyNoWindowIsSeen()
{
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session == 0) return L"session 0";
    // Not to be closed: the process's own window station.
    HWINSTA station = GetProcessWindowStation();
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (station && GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
        !(flags.dwFlags & WSF_VISIBLE))
        return L"a window station without a display";
    return nullptr;
}
