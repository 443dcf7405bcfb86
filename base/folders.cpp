// Folder routines and the driver-path composers.
#include <shlobj.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/shared_routines.h"
#include "platform/system_library.h"

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

namespace {

// Starts "<interpreter> /d /c rmdir "<short path>" /s /q" hidden and waits up to ten seconds.
bool RunRemoveCommand(const wchar_t* path)
{
    // The system folder's interpreter: "COMSPEC" is the user's to change, and
    // this runs elevated. /d: no AutoRun command from the user's registry.
    wchar_t interpreter[MAX_PATH];
    if (!ComposeSystemPath(L"cmd.exe", interpreter, MAX_PATH)) return false;
    wchar_t shortPath[MAX_PATH];
    DWORD n = GetShortPathNameW(path, shortPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;

    // Quoted: where short names are off the short form is the long path, and
    // a blank in it would make rmdir act on other folders.
    wchar_t command[520];
    size_t length = BoundedFormat(command, 520, L"%s /d /c rmdir \"%s\" /s /q", interpreter, shortPath);
    if (length >= 519) return false;  // a cut path could name a parent folder

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(interpreter, command, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr, &si, &pi))
        return false;
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    SetPriorityClass(pi.hProcess, IDLE_PRIORITY_CLASS);
    ResumeThread(pi.hThread);
    // The child runs at idle priority: on a busy machine it may not finish
    // within a second, and a folder that survives is taken for still wanted
    // (payload fonts were copied into the install folder that way).
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

}  // namespace

int RemoveFolderTree(const wchar_t* path)
{
    if (!path || !path[0]) return 0;
    wchar_t previous[MAX_PATH];
    DWORD n = GetCurrentDirectoryW(MAX_PATH, previous);
    bool restore = n > 0 && n < MAX_PATH;
    // Not holding the folder ourselves.
    SetCurrentDirectoryW(L"c:\\");

    int result = 1;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!RunRemoveCommand(path)) {
            result = 0;
            break;
        }
        if (!PathExists(path)) break;
    }
    if (restore) SetCurrentDirectoryW(previous);
    return result;
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
