/* Test helper: loads the library named on its command line, signals the
 * named event given second, then waits to be ended (at most two minutes).
 * Without a library it only signals and waits, holding its own program file.
 * "--mapped <file> <event>" maps the file as an image without loading it: it
 * is held as a loaded library is, but no module list names it, as with a
 * holder the setup cannot look into.
 * "--again <file> <event>" keeps a holder of the file running for two
 * minutes: one that is ended comes back at once, as Explorer does. The
 * holders it starts end with it ("--until <id>"). */
#include <windows.h>
#include <shellapi.h>
#include <wchar.h>

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

static int KeepHolding(const wchar_t* file, const wchar_t* event)
{
    wchar_t self[MAX_PATH], command[3 * MAX_PATH];
    if (!GetModuleFileNameW(NULL, self, MAX_PATH)) return 3;
    swprintf(command, 3 * MAX_PATH, L"\"%ls\" --until %lu \"%ls\" %ls", self, GetCurrentProcessId(), file, event);
    DWORD start = GetTickCount();
    while (GetTickCount() - start < 120000) {
        STARTUPINFOW si = {sizeof si};
        PROCESS_INFORMATION pi;
        wchar_t line[3 * MAX_PATH];
        lstrcpyW(line, command);
        if (!CreateProcessW(NULL, line, NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) return 2;
        CloseHandle(pi.hThread);
        WaitForSingleObject(pi.hProcess, 120000 - (GetTickCount() - start));
        CloseHandle(pi.hProcess);
    }
    return 0;
}

int main(void)
{
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return 3;
    int first = 1;
    HANDLE keeper = NULL;
    if (argc >= 3 && lstrcmpW(argv[1], L"--until") == 0) {
        keeper = OpenProcess(SYNCHRONIZE, FALSE, wcstoul(argv[2], NULL, 10));
        first = 3;
    }
    if (argc >= first + 3 && lstrcmpW(argv[first], L"--again") == 0) return KeepHolding(argv[first + 1], argv[first + 2]);
    int mapped = argc > first && lstrcmpW(argv[first], L"--mapped") == 0;
    if (mapped) ++first;
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
    if (keeper) WaitForSingleObject(keeper, 120000);
    else Sleep(120000);
    return 0;
}
