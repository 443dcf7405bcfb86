#include "app/delayed_removal.h"

#include <windows.h>

#include <cwchar>

#include "app/bounded_string.h"

bool ScheduleFolderRemovalAfterExit(const wchar_t* folder)
{
    if (!folder || !folder[0] || wcschr(folder, L'"')) return false;
    wchar_t system[MAX_PATH];
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    wchar_t interpreter[MAX_PATH];
    if (BoundedFormat(interpreter, MAX_PATH, L"%s\\cmd.exe", system) >= MAX_PATH - 1) return false;

    // Without its trailing backslash: "rmdir" reads "\"" as an escaped quote.
    wchar_t target[MAX_PATH];
    BoundedCopy(target, MAX_PATH, folder);
    size_t length = wcslen(target);
    while (length > 3 && target[length - 1] == L'\\') target[--length] = L'\0';

    wchar_t command[1024];
    size_t used = BoundedFormat(command, 1024,
                                L"\"%s\" /c for /l %%i in (1,1,10) do (ping -n 2 127.0.0.1 >nul & "
                                L"if exist \"%s\" rmdir /s /q \"%s\")",
                                interpreter, target, target);
    if (used >= 1023) return false;  // never run a cut command

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(interpreter, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, system, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}
