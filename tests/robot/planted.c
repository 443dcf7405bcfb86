/* A DLL planted where the setup could find it by name. Loaded, it leaves
   "<its own path>.ran" behind; called from the program itself (not from a
   system DLL), it leaves "<its own path>.used". Its exports (the version and
   ATL functions the setup asks for) only fail. */
#include <windows.h>

static HMODULE g_self;

static void LeaveMarker(const wchar_t* suffix)
{
    wchar_t path[MAX_PATH + 8];
    DWORD n = GetModuleFileNameW(g_self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    lstrcatW(path, suffix);
    HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = instance;
        LeaveMarker(L".ran");
    }
    return TRUE;
}

__declspec(dllexport) int PlantedFail(void)
{
    HMODULE caller = NULL;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           (LPCWSTR)__builtin_return_address(0), &caller) &&
        caller == GetModuleHandleW(NULL))
        LeaveMarker(L".used");
    return 0;
}
