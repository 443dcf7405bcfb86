// Stand-in for the companion tool: accepts /do=install, /do=unstall and
// /do=zixun and appends one line per call, with its arguments, to
// %ALLUSERSPROFILE%\VarekInputTool\calls.log, and its working folder to
// folders.log beside it, so that a test can see the calls.
#include <windows.h>

#include <cwchar>

namespace {

// The text after the program's own (possibly quoted) path.
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

void AppendLine(const wchar_t* folderName, const wchar_t* fileName, const wchar_t* line)
{
    wchar_t base[MAX_PATH];
    DWORD n = GetEnvironmentVariableW(L"ALLUSERSPROFILE", base, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    wchar_t folder[MAX_PATH];
    wchar_t path[MAX_PATH];
    if (_snwprintf(folder, MAX_PATH, L"%ls\\%ls", base, folderName) < 0) return;
    folder[MAX_PATH - 1] = L'\0';
    CreateDirectoryW(folder, nullptr);
    if (_snwprintf(path, MAX_PATH, L"%ls\\%ls", folder, fileName) < 0) return;
    path[MAX_PATH - 1] = L'\0';
    char utf8[2048];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8 - 3, nullptr, nullptr);
    if (bytes <= 0) return;
    bytes -= 1;  // without the terminator
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
    wchar_t folder[MAX_PATH] = L"";
    DWORD n = GetCurrentDirectoryW(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH) folder[0] = L'\0';
    AppendLine(L"VarekInputTool", L"folders.log", folder);
    AppendLine(L"VarekInputTool", L"calls.log", args);
    if (wcsstr(args, L"/do=install") || wcsstr(args, L"/do=unstall") || wcsstr(args, L"/do=zixun")) return 0;
    return 1;
}
