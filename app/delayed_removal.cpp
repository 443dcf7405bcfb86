#include "app/delayed_removal.h"

#include <windows.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "platform/system_library.h"

bool ScheduleFolderRemovalAfterExit(const wchar_t* folder)
{
    if (!folder || !folder[0] || wcschr(folder, L'"')) return false;
    wchar_t system[MAX_PATH], interpreter[MAX_PATH], ping[MAX_PATH];
    UINT n = GetSystemDirectoryW(system, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !ComposeSystemPath(L"cmd.exe", interpreter, MAX_PATH) ||
        !ComposeSystemPath(L"ping.exe", ping, MAX_PATH))
        return false;

    // Without its trailing backslash: "rmdir" reads "\"" as an escaped quote.
    wchar_t target[MAX_PATH];
    BoundedCopy(target, MAX_PATH, folder);
    size_t length = wcslen(target);
    while (length > 3 && target[length - 1] == L'\\') target[--length] = L'\0';

    wchar_t command[1024];
    size_t used = BoundedFormat(command, 1024,
                                L"\"%s\" /d /c for /l %%i in (1,1,10) do (if exist \"%s\" "
                                L"(\"%s\" -n 2 127.0.0.1 >nul & rmdir /s /q \"%s\"))",
                                interpreter, target, ping, target);
    if (used >= 1023) return false;  // never run a cut command

    STARTUPINFOW si{};
    si.cb = sizeof si;
    // No standard handles: whatever this program was given (a deployment
    // tool's log pipe) must not stay open for the seconds the loop runs.
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(interpreter, command, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, system, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}
