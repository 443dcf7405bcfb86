// Stand-in for the input method's configuration program: accepts "/n {GUID}"
// and "/n {GUID} /do anjianshezhi", records the call in
// %ALLUSERSPROFILE%\VarekInputTool\config.log and ends.
#include <windows.h>

#include <cwchar>

namespace {

const wchar_t* Arguments(const wchar_t* commandLine)
{
    const wchar_t* p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p && *p != L'"') ++p;
        if (*p) ++p;
    } else {
        while (*p && *p != L' ' && *p != L'\t') ++p;
    }
    while (*p == L' ' || *p == L'\t') ++p;
    return p;
}

void AppendLine(const wchar_t* line)
{
    wchar_t base[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ALLUSERSPROFILE", base, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    wchar_t path[MAX_PATH];
    if (_snwprintf(path, MAX_PATH, L"%ls\\VarekInputTool", base) < 0) return;
    path[MAX_PATH - 1] = L'\0';
    CreateDirectoryW(path, nullptr);
    if (_snwprintf(path, MAX_PATH, L"%ls\\VarekInputTool\\config.log", base) < 0) return;
    path[MAX_PATH - 1] = L'\0';
    char utf8[2048];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8 - 3, nullptr, nullptr);
    if (bytes <= 0) return;
    bytes -= 1;
    utf8[bytes++] = '\r';
    utf8[bytes++] = '\n';
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, utf8, static_cast<DWORD>(bytes), &written, nullptr);
    CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const wchar_t* args = Arguments(GetCommandLineW());
    AppendLine(args);
    // "/n " followed by a braced GUID; optionally "/do anjianshezhi".
    const wchar_t* name = wcsstr(args, L"/n {");
    if (!name || !wcschr(name, L'}')) return 1;
    return 0;
}
