// Stands in for the companion tool: appends its command line to the file named
// by ZT_MAINT_RECORDER_LOG, one line per start, after writing its working
// folder to that name with ".cwd" added. ZT_MAINT_RECORDER_DELAY: milliseconds
// to work first, as a tool that takes its time.
#include <windows.h>

#include <cwchar>

namespace {
void WriteWhole(const wchar_t* path, DWORD disposition, DWORD access, const wchar_t* text, char end)
{
    HANDLE f = CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return;
    char utf8[4096];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof utf8 - 2, nullptr, nullptr);
    if (bytes > 0) {
        utf8[bytes - 1] = end;
        DWORD written = 0;
        WriteFile(f, utf8, static_cast<DWORD>(bytes), &written, nullptr);
    }
    CloseHandle(f);
}
}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t logPath[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ZT_MAINT_RECORDER_LOG", logPath, MAX_PATH - 4);
    if (n == 0 || n >= MAX_PATH - 4) return 2;
    wchar_t delay[16];
    DWORD d = GetEnvironmentVariableW(L"ZT_MAINT_RECORDER_DELAY", delay, 16);
    if (d > 0 && d < 16) Sleep(wcstoul(delay, nullptr, 10));

    wchar_t cwdPath[MAX_PATH];
    swprintf(cwdPath, MAX_PATH, L"%ls.cwd", logPath);
    wchar_t cwd[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, cwd);
    WriteWhole(cwdPath, CREATE_ALWAYS, GENERIC_WRITE, cwd, '\n');
    WriteWhole(logPath, OPEN_ALWAYS, FILE_APPEND_DATA, GetCommandLineW(), '\n');
    return 0;
}
