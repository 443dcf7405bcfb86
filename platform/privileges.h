// Privileges of this process's own token.
#pragma once
#include <windows.h>

// Enables one privilege the token holds (disabled). ERROR_SUCCESS, or the
// error; ERROR_NOT_ALL_ASSIGNED when the account does not hold it.
DWORD EnableOwnPrivilege(const wchar_t* name);
