// The entries of a folder, one level, handed over one by one.
#pragma once
#include <windows.h>

#include <cwchar>

#include "base/bounded_string.h"

// folder\name into out (MAX_PATH); false when it does not fit.
inline bool JoinChild(wchar_t* out, const wchar_t* folder, const wchar_t* name)
{
    return BoundedFormat(out, MAX_PATH, L"%s\\%s", folder, name) < MAX_PATH - 1;
}

inline bool IsDotEntry(const wchar_t* name) { return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0; }

// Hands every entry of the folder but "." and ".." to visit(path,
// attributes) while it returns true. False when the folder cannot be listed
// (an empty one can) or a path would not fit.
template <typename Visit>
inline bool ForEachChild(const wchar_t* folder, Visit visit)
{
    wchar_t pattern[MAX_PATH];
    if (!JoinChild(pattern, folder, L"*")) return false;
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool listed = true;
    do {
        entry.cFileName[MAX_PATH - 1] = L'\0';
        if (IsDotEntry(entry.cFileName)) continue;
        wchar_t path[MAX_PATH];
        if (!JoinChild(path, folder, entry.cFileName)) {
            listed = false;
            break;
        }
        if (!visit(path, entry.dwFileAttributes)) break;
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return listed;
}
