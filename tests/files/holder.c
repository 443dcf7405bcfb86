/* Test helper: loads the library named on its command line, signals the
 * named event given second, then waits to be ended (at most two minutes).
 * Without a library it only signals and waits, holding its own program file. */
#include <windows.h>
#include <shellapi.h>

int main(void)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 3;
    if (argc >= 2 && argv[1][0] && lstrcmpW(argv[1], L"-") != 0) {
        if (!LoadLibraryW(argv[1])) return 2;
    }
    if (argc >= 3) {
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
        if (ready) {
            SetEvent(ready);
            CloseHandle(ready);
        }
    }
    Sleep(120000);
    return 0;
}
