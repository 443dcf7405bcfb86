// Adds an access-allowed entry for one account to a file's DACL.
#pragma once
#include <windows.h>

// Returns 1 when the file's DACL was rewritten, 0 on any failure.
int GrantFileAccess(const wchar_t* path, const wchar_t* accountName, DWORD accessMask = GENERIC_ALL);
