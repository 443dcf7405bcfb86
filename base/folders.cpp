// Folder routines and the driver-path composers.
#include <shlobj.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/shared_routines.h"

bool PathExists(const wchar_t* path)
{
    return path && path[0] && GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool FolderExists(const wchar_t* path)
{
    if (!path || !path[0]) return false;
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

void ForEachListedEntry(const wchar_t* pattern, void (*visit)(const WIN32_FIND_DATAW& entry, void* context),
                        void* context)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        entry.cFileName[MAX_PATH - 1] = L'\0';
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) visit(entry, context);
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}

bool IsAbsolutePath(const wchar_t* path)
{
    if (!path) return false;
    bool drive = ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) && path[1] == L':' &&
                 path[2] == L'\\';
    // \\server\share, not a device path (\\?\, \\.\).
    bool network = path[0] == L'\\' && path[1] == L'\\' && path[2] && path[2] != L'?' && path[2] != L'.' &&
                   path[2] != L'\\';
    return drive || network;
}

int CreateFolderPath(const wchar_t* path)
{
    wchar_t copy[MAX_PATH];
    BoundedCopy(copy, MAX_PATH, path);
    for (wchar_t* p = copy; *p; ++p) {
        if (*p != L'\\') continue;
        *p = L'\0';
        if (copy[0]) CreateDirectoryW(copy, nullptr);
        *p = L'\\';
    }
    CreateDirectoryW(copy, nullptr);
    DWORD attributes = GetFileAttributesW(copy);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

int ComposeDataFolder(wchar_t* buffer, const wchar_t* name)
{
    if (!buffer) return 1;
    BoundedAppend(buffer, MAX_PATH, EndsWithBackslash(buffer) ? L"ZerdaIME3\\" : L"\\ZerdaIME3\\");
    if (name && name[0]) {
        BoundedAppend(buffer, MAX_PATH, name);
        BoundedAppend(buffer, MAX_PATH, L"\\");
    }
    return 1;
}

size_t JoinTempPath(const wchar_t* name, wchar_t* buffer)
{
    if (!buffer) return 0;
    buffer[0] = L'\0';
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return 0;
    size_t nameLength = name ? wcslen(name) : 0;
    if (wcslen(temp) + nameLength + 2 >= MAX_PATH) return 0;
    BoundedCopy(buffer, MAX_PATH, temp);
    AppendBackslashIfMissing(buffer, MAX_PATH);
    return BoundedAppend(buffer, MAX_PATH, name ? name : L"");
}

size_t ComposeSystemTempFolder(wchar_t* buffer)
{
    if (!buffer) return 0;
    buffer[0] = L'\0';
    // The shared Windows folder, also for a program that a terminal server
    // would give a folder of the user's own.
    wchar_t windows[MAX_PATH];
    UINT n = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (n == 0 || n >= MAX_PATH - 6) return 0;
    AppendBackslashIfMissing(windows, MAX_PATH);
    return BoundedFormat(buffer, MAX_PATH, L"%sTemp\\", windows);
}

namespace {
// <folder>\<imeName>.ime with the folder from folderOf; the path's length,
// 0 when the folder cannot be had.
int ComposeImePath(UINT(WINAPI* folderOf)(LPWSTR, UINT), const wchar_t* imeName, wchar_t* buffer)
{
    if (!buffer) return 0;
    buffer[0] = L'\0';
    wchar_t folder[MAX_PATH];
    UINT n = folderOf(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 0;
    size_t length = BoundedFormat(buffer, MAX_PATH, EndsWithBackslash(folder) ? L"%s%s.ime" : L"%s\\%s.ime",
                                  folder, imeName ? imeName : L"");
    return static_cast<int>(length);
}
}  // namespace

int GetSystemImePath(const wchar_t* imeName, wchar_t* buffer)
{
    return ComposeImePath(&GetSystemDirectoryW, imeName, buffer) ? 1 : 0;
}

int GetWow64ImePath(const wchar_t* imeName, wchar_t* buffer) { return ComposeImePath(&GetSystemWow64DirectoryW, imeName, buffer); }
