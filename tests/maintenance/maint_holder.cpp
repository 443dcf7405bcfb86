// Loads the library named on its command line and keeps it loaded until it is
// ended, the way a program holds an input method's driver.
#include <windows.h>

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) return 2;
    if (!LoadLibraryW(argv[1])) return 3;
    // Optional second argument: a file created once the library is loaded.
    if (argc >= 3) {
        HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (ready != INVALID_HANDLE_VALUE) CloseHandle(ready);
    }
    for (;;) Sleep(1000);
}
