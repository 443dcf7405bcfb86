// Stands in for the companion tool: appends its command line to the file named
// by ZT_MAINT_RECORDER_LOG, one line per start.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    wchar_t logPath[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ZT_MAINT_RECORDER_LOG", logPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return 2;
    HANDLE f = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return 3;
    const wchar_t* line = GetCommandLineW();
    char utf8[4096];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8 - 2, nullptr, nullptr);
    if (bytes > 0) {
        utf8[bytes - 1] = '\n';
        DWORD written = 0;
        WriteFile(f, utf8, static_cast<DWORD>(bytes), &written, nullptr);
    }
    CloseHandle(f);
    return 0;
}
