#include "base/run_log.h"

#include <cstdarg>
#include <cwchar>

#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "base/shared_routines.h"

namespace {

HANDLE g_log = INVALID_HANDLE_VALUE;
wchar_t g_logPath[MAX_PATH] = L"";
DWORD g_result = kExitSuccess;
bool g_restartNeeded = false;
bool g_resultLogged = false;
// The lines of the run before its log opens (UTF-8).
// Allocated: a static buffer would be carried in the program's file.
bool g_keepEarly = false;
constexpr size_t kEarlyBytes = 64 * 1024;
char* g_early = nullptr;
size_t g_earlyUsed = 0;
// The font and payload threads log while the log is still being chosen.
SRWLOCK g_earlyLock = SRWLOCK_INIT;

// The setup runs elevated and its logs may lie in the user's temporary
// folder: a link planted under the log's name, or a junction among its
// folders, must not send the writes to another file.
bool IsPlainFile(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info;
    return GetFileInformationByHandle(file, &info) && info.nNumberOfLinks == 1 &&
           !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
}

// Opens path for appending: made new, or an existing file written on at its
// end, never cut. fresh: the file must not exist yet. Shared for writing: a
// relaunched copy appends to its starter's log.
HANDLE OpenForAppend(const wchar_t* path, bool fresh)
{
    if (HasReparsePointOnTheWay(path, true)) {
        SetLastError(ERROR_STOPPED_ON_SYMLINK);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    // Made here: it can be taken back when it turns out to be no plain file.
    bool created = true;
    HANDLE file = OpenDirectly(path, FILE_APPEND_DATA | DELETE, share, CREATE_NEW, FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE && !fresh && GetLastError() == ERROR_FILE_EXISTS) {
        created = false;
        file = OpenDirectly(path, FILE_APPEND_DATA, share, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
    }
    if (file == INVALID_HANDLE_VALUE) return file;
    if (!IsPlainFile(file)) {
        if (created) DeleteByHandle(file);
        CloseHandle(file);
        SetLastError(ERROR_STOPPED_ON_SYMLINK);
        return INVALID_HANDLE_VALUE;
    }
    LARGE_INTEGER size{};
    if (GetFileSizeEx(file, &size) && size.QuadPart == 0) {
        static const char kBom[] = "\xEF\xBB\xBF";
        DWORD written = 0;
        WriteFile(file, kBom, 3, &written, nullptr);
    }
    return file;
}

// The dated log under a name nobody made before this run, in folder.
HANDLE CreateDatedLogIn(const wchar_t* folder, const wchar_t* stem, wchar_t* path)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    wchar_t base[MAX_PATH];
    size_t length = BoundedFormat(base, MAX_PATH, L"%s%s_%04u%02u%02u_%02u%02u%02u", folder, stem, t.wYear,
                                  t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
    if (length >= MAX_PATH - 8) return INVALID_HANDLE_VALUE;
    for (int attempt = 1; attempt <= 20; ++attempt) {
        if (attempt == 1) BoundedFormat(path, MAX_PATH, L"%s.log", base);
        else BoundedFormat(path, MAX_PATH, L"%s_%d.log", base, attempt);
        HANDLE file = OpenForAppend(path, true);
        if (file != INVALID_HANDLE_VALUE) return file;
        if (GetLastError() != ERROR_FILE_EXISTS && GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    return INVALID_HANDLE_VALUE;
}

// In the temporary folder of the account that runs the setup; when that
// folder leads through a link, in the machine's temporary folder instead.
HANDLE CreateDatedLog(const wchar_t* stem, wchar_t* path)
{
    wchar_t folder[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, folder);
    HANDLE file = INVALID_HANDLE_VALUE;
    if (n > 0 && n < MAX_PATH) {
        AppendBackslashIfMissing(folder, MAX_PATH);
        file = CreateDatedLogIn(folder, stem, path);
    }
    if (file == INVALID_HANDLE_VALUE && ComposeSystemTempFolder(folder)) file = CreateDatedLogIn(folder, stem, path);
    if (file == INVALID_HANDLE_VALUE) path[0] = L'\0';
    return file;
}

void WriteUtf8(const wchar_t* text)
{
    if (g_log == INVALID_HANDLE_VALUE && !g_keepEarly) return;
    char bytes[4 * 1024];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr);
    if (n <= 1) return;
    DWORD written = 0;
    if (g_log == INVALID_HANDLE_VALUE) {
        AcquireSRWLockExclusive(&g_earlyLock);
        // Opened meanwhile: the lines kept so far are in it already.
        const bool keep = g_log == INVALID_HANDLE_VALUE;
        if (keep && g_early && g_earlyUsed + static_cast<size_t>(n - 1) <= kEarlyBytes) {
            CopyMemory(g_early + g_earlyUsed, bytes, static_cast<size_t>(n - 1));
            g_earlyUsed += static_cast<size_t>(n - 1);
        }
        ReleaseSRWLockExclusive(&g_earlyLock);
        if (keep) return;
    }
    WriteFile(g_log, bytes, static_cast<DWORD>(n - 1), &written, nullptr);
}

// The log becomes file, with the lines kept so far first.
void UseLogFile(HANDLE file)
{
    AcquireSRWLockExclusive(&g_earlyLock);
    DWORD written = 0;
    if (g_early && g_earlyUsed) WriteFile(file, g_early, static_cast<DWORD>(g_earlyUsed), &written, nullptr);
    g_earlyUsed = 0;
    g_log = file;
    ReleaseSRWLockExclusive(&g_earlyLock);
}

// The folders above a log file that the command line names, made when missing.
void CreateLogFolder(const wchar_t* path)
{
    wchar_t folder[MAX_PATH];
    BoundedCopy(folder, MAX_PATH, path);
    wchar_t* last = wcsrchr(folder, L'\\');
    if (!last || last - folder < 3) return;
    *last = L'\0';
    if (FolderExists(folder) || HasReparsePointOnTheWay(folder, true)) return;
    if (CreateFolderPath(folder)) RunLog(L"Created for the log: %s", folder);
}

}  // namespace

const wchar_t* OpenRunLog(const wchar_t* path, const wchar_t* defaultFolder, const wchar_t* stem)
{
    CloseRunLog();
    DWORD error = ERROR_SUCCESS;
    wchar_t wanted[MAX_PATH] = L"";
    HANDLE file = INVALID_HANDLE_VALUE;
    if (path && path[0]) {
        BoundedCopy(wanted, MAX_PATH, path);
        CreateLogFolder(wanted);
        file = OpenForAppend(wanted, false);
        if (file == INVALID_HANDLE_VALUE) error = GetLastError();
    }
    if (file != INVALID_HANDLE_VALUE) {
        BoundedCopy(g_logPath, MAX_PATH, wanted);
        UseLogFile(file);
        return g_logPath;
    }
    if (!stem || !stem[0]) stem = L"ZerdaIME3_Setup";
    if (defaultFolder && defaultFolder[0]) file = CreateDatedLogIn(defaultFolder, stem, g_logPath);
    if (file == INVALID_HANDLE_VALUE) file = CreateDatedLog(stem, g_logPath);
    if (file == INVALID_HANDLE_VALUE) {
        g_logPath[0] = L'\0';
        return g_logPath;
    }
    UseLogFile(file);
    if (wanted[0]) RunLogFailure(L"The log file could not be created; logging here instead", wanted, error);
    return g_logPath;
}

void KeepEarlyRunLogLines()
{
    if (!g_early) g_early = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kEarlyBytes));
    g_keepEarly = g_early != nullptr;
}

bool IsRunLogOpen() { return g_log != INVALID_HANDLE_VALUE; }
const wchar_t* RunLogPath() { return g_logPath; }

void CloseRunLog()
{
    if (g_log != INVALID_HANDLE_VALUE) CloseHandle(g_log);
    g_log = INVALID_HANDLE_VALUE;
}

void RunLog(const wchar_t* format, ...)
{
    if (g_log == INVALID_HANDLE_VALUE && !g_keepEarly) return;
    wchar_t line[2048];
    SYSTEMTIME t;
    GetLocalTime(&t);
    size_t used = BoundedFormat(line, 2048, L"%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu] ", t.wYear, t.wMonth, t.wDay,
                                t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, GetCurrentProcessId());
    va_list args;
    va_start(args, format);
    BoundedFormatV(line + used, 2048 - used, format, args);
    va_end(args);
    // One entry a line: the log box's own line breaks become blanks.
    for (wchar_t* p = line; *p; ++p)
        if (*p == L'\r' || *p == L'\n') *p = L' ';
    BoundedAppend(line, 2048, L"\r\n");
    WriteUtf8(line);
}

void RunLogFailure(const wchar_t* what, const wchar_t* object, DWORD error)
{
    wchar_t message[256] = L"";
    DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, message,
                             256, nullptr);
    if (n == 0 || n >= 256) message[0] = L'\0';
    RunLog(L"FAILED: %s: %s (error %lu%s%s)", what, object ? object : L"", error, message[0] ? L": " : L"",
           message);
}

void SetRunResult(DWORD code)
{
    if (g_result == kExitSuccess) g_result = code;
}

DWORD RunResult() { return g_result; }

void NoteRestartNeeded() { g_restartNeeded = true; }

bool RunNeedsRestart() { return g_result == kExitRestartNeeded || (g_result == kExitSuccess && g_restartNeeded); }

DWORD FinishRunResult()
{
    DWORD code = RunNeedsRestart() ? kExitRestartNeeded : g_result;
    if (!g_resultLogged) {
        g_resultLogged = true;
        RunLog(L"Exit code: %lu", code);
    }
    return code;
}
