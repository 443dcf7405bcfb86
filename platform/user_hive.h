// Registry hives of profiles whose owner is not logged on, mounted below
// HKEY_USERS for a moment under a name the caller chooses.
#pragma once
#include <windows.h>

// Enables the backup and restore privileges that loading a hive needs (an
// elevated administrator and SYSTEM hold them, disabled). ERROR_SUCCESS, or
// the error (ERROR_NOT_ALL_ASSIGNED when the account lacks them).
DWORD EnableHivePrivileges();
// Loads `file` as HKEY_USERS\<mountName>. A missing file is
// ERROR_FILE_NOT_FOUND and nothing is loaded: RegLoadKeyW would create an
// empty hive in its place. A mount of that name left by an interrupted run
// is unloaded first.
LONG MountUserHive(const wchar_t* mountName, const wchar_t* file);
// Unloads it, retrying for a moment while a key below it is still open.
LONG UnmountUserHive(const wchar_t* mountName);
