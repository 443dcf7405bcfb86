/* A DLL planted where the setup could find it by name. Loaded, it leaves
   "<its own path>.ran" behind; its exports (the version and ATL functions
   the setup asks for) only fail. */
#include <windows.h>

static void LeaveMarker(HMODULE self)
{
    wchar_t path[MAX_PATH + 8];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    lstrcatW(path, L".ran");
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) LeaveMarker(instance);
    return TRUE;
}

__declspec(dllexport) int PlantedFail(void) { return 0; }
