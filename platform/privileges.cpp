#include "platform/privileges.h"

DWORD EnableOwnPrivilege(const wchar_t* name)
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return GetLastError();
    TOKEN_PRIVILEGES wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD rc = ERROR_SUCCESS;
    if (!LookupPrivilegeValueW(nullptr, name, &wanted.Privileges[0].Luid)) {
        rc = GetLastError();
    } else {
        // Succeeds also when nothing was enabled: the last error tells.
        AdjustTokenPrivileges(token, FALSE, &wanted, 0, nullptr, nullptr);
        rc = GetLastError();
    }
    CloseHandle(token);
    return rc;
}
