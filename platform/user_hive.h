// Registry hives of profiles whose owner is not logged on, mounted below
// HKEY_USERS for a moment under a name the caller chooses. The backup and
// restore privileges that loading and unloading need (an elevated
// administrator and SYSTEM hold them, disabled) are on only for each call.
#pragma once
#include <windows.h>

// Loads `file` as HKEY_USERS\<mountName>. A missing file is
// ERROR_FILE_NOT_FOUND and nothing is loaded: RegLoadKeyW would create an
// empty hive in its place. A mount of that name left by an interrupted run
// is unloaded first.
LONG MountUserHive(const wchar_t* mountName, const wchar_t* file);
// Unloads it and makes sure it is gone, retrying for a moment while a key
// below it is still open. ERROR_SUCCESS, or the last error.
LONG UnmountUserHive(const wchar_t* mountName);
