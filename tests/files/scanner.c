/* Test helper: an on-access scanner. It looks through the folders named on
 * its command line (with everything below them) every few milliseconds and
 * opens each driver or library that appears there, or is written again, for
 * reading and sharing reading only, for half a second: a rename, a rewrite
 * or a copy over it fails meanwhile. Each hold is logged ("held <path>").
 *   scanner.exe <stop event> <log file> <folder> [<folder> ...]
 * It ends when the stop event is set. */
#include <windows.h>
#include <shellapi.h>

static CRITICAL_SECTION g_logLock;
static HANDLE g_log;

struct Seen {
    wchar_t path[MAX_PATH];
    FILETIME written;
};
static struct Seen g_seen[512];
static int g_seenCount;
static BOOL g_recordOnly;

static void Log(const wchar_t* path)
{
    char line[3 * MAX_PATH + 16] = "held ";
    if (WideCharToMultiByte(CP_UTF8, 0, path, -1, line + 5, 3 * MAX_PATH, NULL, NULL) <= 0) return;
    lstrcatA(line, "\r\n");
    EnterCriticalSection(&g_logLock);
    DWORD written = 0;
    WriteFile(g_log, line, lstrlenA(line), &written, NULL);
    LeaveCriticalSection(&g_logLock);
}

static BOOL EndsWith(const wchar_t* name, const wchar_t* suffix)
{
    int a = lstrlenW(name), b = lstrlenW(suffix);
    return a >= b && lstrcmpiW(name + a - b, suffix) == 0;
}

static DWORD WINAPI Hold(LPVOID parameter)
{
    wchar_t* path = (wchar_t*)parameter;
    HANDLE file = INVALID_HANDLE_VALUE;
    /* The writer may still have it open: as soon as it lets go. */
    for (int i = 0; i < 500 && file == INVALID_HANDLE_VALUE; ++i) {
        file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_SHARING_VIOLATION) break;
        if (file == INVALID_HANDLE_VALUE) Sleep(1);
    }
    if (file != INVALID_HANDLE_VALUE) {
        Log(path);
        Sleep(500);
        CloseHandle(file);
    }
    HeapFree(GetProcessHeap(), 0, path);
    return 0;
}

/* True the first time a file is seen with this write time. */
static BOOL Fresh(const wchar_t* path, FILETIME written)
{
    for (int i = 0; i < g_seenCount; ++i) {
        if (lstrcmpiW(g_seen[i].path, path) != 0) continue;
        if (CompareFileTime(&g_seen[i].written, &written) == 0) return FALSE;
        g_seen[i].written = written;
        return TRUE;
    }
    if (g_seenCount < 512) {
        lstrcpynW(g_seen[g_seenCount].path, path, MAX_PATH);
        g_seen[g_seenCount++].written = written;
    }
    return TRUE;
}

static void Look(const wchar_t* folder, int depth)
{
    wchar_t pattern[MAX_PATH];
    if (lstrlenW(folder) + 3 >= MAX_PATH) return;
    lstrcpyW(pattern, folder);
    lstrcatW(pattern, L"\\*");
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        if (entry.cFileName[0] == L'.') continue;
        int length = lstrlenW(folder) + lstrlenW(entry.cFileName) + 2;
        if (length >= MAX_PATH) continue;
        wchar_t path[MAX_PATH];
        lstrcpyW(path, folder);
        lstrcatW(path, L"\\");
        lstrcatW(path, entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth < 4) Look(path, depth + 1);
        } else if ((EndsWith(path, L".ime") || EndsWith(path, L".dll")) && Fresh(path, entry.ftLastWriteTime) &&
                   !g_recordOnly) {
            wchar_t* copy = (wchar_t*)HeapAlloc(GetProcessHeap(), 0, sizeof path);
            if (!copy) continue;
            lstrcpyW(copy, path);
            HANDLE thread = CreateThread(NULL, 0, Hold, copy, 0, NULL);
            if (thread) CloseHandle(thread);
            else HeapFree(GetProcessHeap(), 0, copy);
        }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}

int main(void)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 4) return 3;
    HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, argv[1]);
    if (!stop) return 4;
    InitializeCriticalSection(&g_logLock);
    g_log = CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
    if (g_log == INVALID_HANDLE_VALUE) return 5;
    /* What is there already is nothing fresh. */
    g_recordOnly = TRUE;
    for (int i = 3; i < argc; ++i) Look(argv[i], 0);
    g_recordOnly = FALSE;
    while (WaitForSingleObject(stop, 2) == WAIT_TIMEOUT)
        for (int i = 3; i < argc; ++i) Look(argv[i], 0);
    ExitProcess(0);
}
