/* Starts one command in a job and times it as a whole: until the started
 * process ends, and until the last process of its tree has ended (an
 * installer may leave helpers behind that still work after it exits).
 *
 *   run-timed.exe SECONDS PROGRAM [ARGUMENT...]
 *   run-timed.exe --hold      opens the desktop and sleeps until it is
 *                             ended: Wine shuts its services down soon after
 *                             the last program ends and boots them again
 *                             with the next one, and the first program that
 *                             needs the desktop starts its process; neither
 *                             belongs in a timing
 *
 *   run-timed.exe --window SECONDS PROGRAM [ARGUMENT...]
 *                             times the person's road instead: until a
 *                             visible, enabled window of the tree holds a
 *                             visible, enabled button; prints "window MS",
 *                             then ends the tree and waits until it is gone
 *
 * Prints one line: "exit CODE process MS tree MS". When the tree is still
 * running after SECONDS, it names the processes left, ends them and exits
 * with 2; a command that cannot be started gives 1. The arguments are
 * quoted again the way the C runtime splits them, so each arrives as given. */
#include <windows.h>
#include <tlhelp32.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

/* Appends one argument; returns the new length, or 0 when it does not fit. */
static size_t AppendQuoted(wchar_t* line, size_t used, size_t capacity, const wchar_t* argument)
{
    int quote = argument[0] == L'\0' || wcspbrk(argument, L" \t\"") != NULL;
    wchar_t buffer[4096];
    size_t n = 0;
    if (used > 0) buffer[n++] = L' ';
    if (quote) buffer[n++] = L'"';
    for (const wchar_t* p = argument; *p; ++p) {
        size_t backslashes = 0;
        while (*p == L'\\') { ++backslashes; ++p; }
        /* Backslashes double only before a quote, the argument's own or the closing one. */
        size_t copies = (*p == L'"' || (*p == L'\0' && quote)) ? backslashes * 2 : backslashes;
        if (n + copies + 4 >= sizeof buffer / sizeof buffer[0]) return 0;
        for (size_t i = 0; i < copies; ++i) buffer[n++] = L'\\';
        if (*p == L'\0') break;
        if (*p == L'"') buffer[n++] = L'\\';
        buffer[n++] = *p;
    }
    if (quote) buffer[n++] = L'"';
    if (used + n + 1 > capacity) return 0;
    memcpy(line + used, buffer, n * sizeof(wchar_t));
    line[used + n] = L'\0';
    return used + n;
}

static double MillisecondsSince(LARGE_INTEGER start, LARGE_INTEGER frequency)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (double)(now.QuadPart - start.QuadPart) * 1000.0 / (double)frequency.QuadPart;
}

static DWORD ActiveProcesses(HANDLE job)
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info;
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &info, sizeof info, NULL))
        return 0;
    return info.ActiveProcesses;
}

/* Names what is still running in the job, so a stuck round can be told apart. */
static void PrintLeftovers(HANDLE job)
{
    struct { JOBOBJECT_BASIC_PROCESS_ID_LIST list; ULONG_PTR more[63]; } ids;
    if (!QueryInformationJobObject(job, JobObjectBasicProcessIdList, &ids, sizeof ids, NULL)) return;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    for (DWORD i = 0; i < ids.list.NumberOfProcessIdsInList; ++i) {
        const wchar_t* name = L"?";
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        if (snapshot != INVALID_HANDLE_VALUE && Process32FirstW(snapshot, &entry)) {
            do {
                if (entry.th32ProcessID == (DWORD)ids.list.ProcessIdList[i]) { name = entry.szExeFile; break; }
            } while (Process32NextW(snapshot, &entry));
        }
        fwprintf(stderr, L"still running: %lu %ls\n", (unsigned long)ids.list.ProcessIdList[i], name);
    }
    if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
}

/* The processes of the job and, once found, a window of theirs a person can act on. */
typedef struct {
    JOBOBJECT_BASIC_PROCESS_ID_LIST list;
    ULONG_PTR more[63];
    HWND found;
} WindowSearch;

static BOOL CALLBACK FindEnabledButton(HWND child, LPARAM found)
{
    wchar_t name[16];
    if (!IsWindowVisible(child) || !IsWindowEnabled(child) || !GetClassNameW(child, name, 16)) return TRUE;
    if (_wcsicmp(name, L"Button") != 0) return TRUE;
    *(HWND*)found = child;
    return FALSE;
}

static BOOL CALLBACK FindActionableWindow(HWND window, LPARAM context)
{
    WindowSearch* search = (WindowSearch*)context;
    DWORD id = 0;
    GetWindowThreadProcessId(window, &id);
    for (DWORD i = 0; i < search->list.NumberOfProcessIdsInList; ++i) {
        if ((DWORD)search->list.ProcessIdList[i] != id) continue;
        HWND button = NULL;
        if (IsWindowVisible(window) && IsWindowEnabled(window)) EnumChildWindows(window, FindEnabledButton, (LPARAM)&button);
        if (!button) return TRUE;
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static int TimeFirstWindow(HANDLE job, LARGE_INTEGER start, LARGE_INTEGER frequency, DWORD limitMs)
{
    WindowSearch search;
    for (;;) {
        double elapsed = MillisecondsSince(start, frequency);
        if (elapsed > limitMs) {
            fwprintf(stderr, L"no window with an enabled button after %lu s\n", limitMs / 1000);
            TerminateJobObject(job, 1);
            return 2;
        }
        ZeroMemory(&search, sizeof search);
        if (QueryInformationJobObject(job, JobObjectBasicProcessIdList, &search, sizeof search, NULL) &&
            search.list.NumberOfProcessIdsInList > 0) {
            EnumWindows(FindActionableWindow, (LPARAM)&search);
            if (search.found) {
                wchar_t caption[128] = L"";
                GetWindowTextW(search.found, caption, 128);
                wprintf(L"window %.1f\n", elapsed);
                fwprintf(stderr, L"found: a window whose caption has %d characters\n", (int)wcslen(caption));
                break;
            }
        } else if (ActiveProcesses(job) == 0) {
            fwprintf(stderr, L"the program ended without a window\n");
            return 2;
        }
        Sleep(1);
    }
    /* The next round must meet no process of this one. */
    TerminateJobObject(job, 1);
    while (ActiveProcesses(job) > 0 && MillisecondsSince(start, frequency) < 2.0 * limitMs) Sleep(5);
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && wcscmp(argv[1], L"--hold") == 0) {
        GetDesktopWindow();
        Sleep(INFINITE);
        return 0;
    }
    int firstWindow = argc > 1 && wcscmp(argv[1], L"--window") == 0;
    if (firstWindow) {
        --argc;
        ++argv;
    }
    if (argc < 3) {
        fwprintf(stderr, L"usage: run-timed.exe [--window] SECONDS PROGRAM [ARGUMENT...]\n");
        return 1;
    }
    DWORD limitMs = (DWORD)wcstoul(argv[1], NULL, 10) * 1000;
    static wchar_t commandLine[32768];
    size_t used = 0;
    for (int i = 2; i < argc; ++i) {
        used = AppendQuoted(commandLine, used, sizeof commandLine / sizeof commandLine[0], argv[i]);
        if (used == 0) {
            fwprintf(stderr, L"command line too long\n");
            return 1;
        }
    }

    HANDLE job = CreateJobObjectW(NULL, NULL);
    HANDLE port = CreateIoCompletionPort(INVALID_HANDLE_VALUE, NULL, 0, 1);
    if (!job || !port) {
        fwprintf(stderr, L"no job object (error %lu)\n", GetLastError());
        return 1;
    }
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = { job, port };
    SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &association, sizeof association);

    LARGE_INTEGER frequency, start;
    QueryPerformanceFrequency(&frequency);
    STARTUPINFOW startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    QueryPerformanceCounter(&start);
    /* Suspended until it is in the job, so that not one child escapes it. */
    if (!CreateProcessW(NULL, commandLine, NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, NULL, &startup, &process)) {
        fwprintf(stderr, L"cannot start %ls (error %lu)\n", commandLine, GetLastError());
        return 1;
    }
    if (!AssignProcessToJobObject(job, process.hProcess)) {
        fwprintf(stderr, L"cannot put the process into a job (error %lu)\n", GetLastError());
        TerminateProcess(process.hProcess, 1);
        return 1;
    }
    ResumeThread(process.hThread);
    if (firstWindow) return TimeFirstWindow(job, start, frequency, limitMs);

    DWORD waited = WaitForSingleObject(process.hProcess, limitMs);
    double processMs = MillisecondsSince(start, frequency);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);

    /* The port's messages are not guaranteed, so the count decides; the port
     * only wakes the loop early. */
    while (waited == WAIT_OBJECT_0 && ActiveProcesses(job) > 0) {
        if (MillisecondsSince(start, frequency) > limitMs) { waited = WAIT_TIMEOUT; break; }
        DWORD message;
        ULONG_PTR key;
        LPOVERLAPPED overlapped;
        GetQueuedCompletionStatus(port, &message, &key, &overlapped, 2);
    }
    double treeMs = MillisecondsSince(start, frequency);
    if (waited != WAIT_OBJECT_0) {
        fwprintf(stderr, L"not done after %lu s: %ls\n", limitMs / 1000, commandLine);
        PrintLeftovers(job);
        TerminateJobObject(job, 1);
        return 2;
    }
    wprintf(L"exit %lu process %.1f tree %.1f\n", code, processMs, treeMs);
    return 0;
}
