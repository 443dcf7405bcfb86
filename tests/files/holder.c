/* Test helper: loads the library named on its command line, signals the
 * named event given second, then waits to be ended (at most two minutes).
 * Without a library it only signals and waits, holding its own program file.
 * "--mapped <file> <event>" maps the file as an image without loading it: it
 * is held as a loaded library is, but no module list names it, as with a
 * holder the setup cannot look into. */
#include <windows.h>
#include <shellapi.h>

static int MapAsImage(const wchar_t* path)
{
    HANDLE file = CreateFileW(path, GENERIC_READ | GENERIC_EXECUTE, FILE_SHARE_READ | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 0;
    HANDLE section = CreateFileMappingW(file, NULL, PAGE_READONLY | SEC_IMAGE, 0, 0, NULL);
    CloseHandle(file);
    if (!section) return 0;
    void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
    CloseHandle(section);
    return view != NULL;
}

int main(void)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 3;
    int first = 1;
    int mapped = argc >= 2 && lstrcmpW(argv[1], L"--mapped") == 0;
    if (mapped) first = 2;
    if (argc > first && argv[first][0] && lstrcmpW(argv[first], L"-") != 0) {
        if (mapped ? !MapAsImage(argv[first]) : !LoadLibraryW(argv[first])) return 2;
    }
    if (argc > first + 1) {
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[first + 1]);
        if (ready) {
            SetEvent(ready);
            CloseHandle(ready);
        }
    }
    Sleep(120000);
    return 0;
}
