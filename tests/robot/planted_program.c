/* A program planted where the setup could take it for its command
   interpreter: it leaves "<its own path>.ran" behind and does nothing else. */
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show)
{
    wchar_t path[MAX_PATH + 8];
    DWORD n = GetModuleFileNameW(NULL, path, MAX_PATH);
    (void)instance, (void)previous, (void)commandLine, (void)show;
    if (n == 0 || n >= MAX_PATH) return 1;
    lstrcatW(path, L".ran");
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return 0;
}
