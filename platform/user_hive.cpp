#include "platform/user_hive.h"

#include "platform/privileges.h"

DWORD EnableHivePrivileges()
{
    DWORD rc = EnableOwnPrivilege(SE_BACKUP_NAME);
    DWORD restore = EnableOwnPrivilege(SE_RESTORE_NAME);
    return rc != ERROR_SUCCESS ? rc : restore;
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
