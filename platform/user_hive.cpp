#include "platform/user_hive.h"

#include "platform/privileges.h"

namespace {

bool IsMounted(const wchar_t* mountName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_USERS, mountName, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

}  // namespace

LONG MountUserHive(const wchar_t* mountName, const wchar_t* file)
{
    if (!mountName || !mountName[0] || !file || !file[0]) return ERROR_INVALID_PARAMETER;
    DWORD attributes = GetFileAttributesW(file);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_FILE_NOT_FOUND;
    const ScopedPrivileges privileges{SE_BACKUP_NAME, SE_RESTORE_NAME};
    if (IsMounted(mountName)) RegUnLoadKeyW(HKEY_USERS, mountName);
    LONG rc = RegLoadKeyW(HKEY_USERS, mountName, file);
    return rc != ERROR_SUCCESS && privileges.result() != ERROR_SUCCESS ? static_cast<LONG>(privileges.result()) : rc;
}

LONG UnmountUserHive(const wchar_t* mountName)
{
    const ScopedPrivileges privileges{SE_BACKUP_NAME, SE_RESTORE_NAME};
    LONG rc = ERROR_SUCCESS;
    // An unload that reports success while the key still opens is no unload.
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (attempt > 0) Sleep(100);
        rc = RegUnLoadKeyW(HKEY_USERS, mountName);
        if (!IsMounted(mountName)) return ERROR_SUCCESS;
        if (rc == ERROR_SUCCESS) rc = ERROR_BUSY;
    }
    return rc;
}
