#include "platform/user_hive.h"

DWORD EnableHivePrivileges()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return GetLastError();
    struct {
        DWORD count;
        LUID_AND_ATTRIBUTES privileges[2];
    } wanted{};
    wanted.count = 2;
    DWORD rc = ERROR_SUCCESS;
    const wchar_t* const names[] = {SE_BACKUP_NAME, SE_RESTORE_NAME};
    for (int i = 0; i < 2 && rc == ERROR_SUCCESS; ++i) {
        if (!LookupPrivilegeValueW(nullptr, names[i], &wanted.privileges[i].Luid)) rc = GetLastError();
        wanted.privileges[i].Attributes = SE_PRIVILEGE_ENABLED;
    }
    // Succeeds also when only some were enabled: the last error tells,
    // ERROR_SUCCESS or ERROR_NOT_ALL_ASSIGNED.
    if (rc == ERROR_SUCCESS) {
        AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&wanted), 0, nullptr, nullptr);
        rc = GetLastError();
    }
    CloseHandle(token);
    return rc;
}

LONG MountUserHive(const wchar_t* mountName, const wchar_t* file)
{
    if (!mountName || !mountName[0] || !file || !file[0]) return ERROR_INVALID_PARAMETER;
    DWORD attributes = GetFileAttributesW(file);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_FILE_NOT_FOUND;
    HKEY stale = nullptr;
    if (RegOpenKeyExW(HKEY_USERS, mountName, 0, KEY_READ, &stale) == ERROR_SUCCESS) {
        RegCloseKey(stale);
        RegUnLoadKeyW(HKEY_USERS, mountName);
    }
    return RegLoadKeyW(HKEY_USERS, mountName, file);
}

LONG UnmountUserHive(const wchar_t* mountName)
{
    LONG rc = RegUnLoadKeyW(HKEY_USERS, mountName);
    for (int attempt = 0; attempt < 20 && rc == ERROR_ACCESS_DENIED; ++attempt) {
        Sleep(100);
        rc = RegUnLoadKeyW(HKEY_USERS, mountName);
    }
    return rc;
}
