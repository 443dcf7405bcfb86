// The three version-information functions the program uses, taken at run time
// from the system folder's version.dll. An import of VERSION.dll would be
// looked up beside the program first (it is no known DLL), and the program
// starts from downloads and from the temporary folder. Defined under the
// system's names, so callers keep calling them as declared in <winver.h>.
#include <windows.h>

#include "platform/system_library.h"

namespace {

using SizeFn = DWORD(WINAPI*)(LPCWSTR, LPDWORD);
using InfoFn = BOOL(WINAPI*)(LPCWSTR, DWORD, DWORD, LPVOID);
using QueryFn = BOOL(WINAPI*)(LPCVOID, LPCWSTR, LPVOID*, PUINT);

struct VersionApi {
    SizeFn size = nullptr;
    InfoFn info = nullptr;
    QueryFn query = nullptr;
};

template <typename Fn>
Fn Find(HMODULE module, const char* name)
{
    return module ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
}

// Loaded once, on first use, and kept for the life of the process.
const VersionApi& Api()
{
    static const VersionApi api = [] {
        VersionApi found;
        HMODULE module = LoadSystemLibrary(L"version.dll");
        found.size = Find<SizeFn>(module, "GetFileVersionInfoSizeW");
        found.info = Find<InfoFn>(module, "GetFileVersionInfoW");
        found.query = Find<QueryFn>(module, "VerQueryValueW");
        return found;
    }();
    return api;
}

}  // namespace

DWORD WINAPI GetFileVersionInfoSizeW(LPCWSTR file, LPDWORD handle)
{
    if (Api().size) return Api().size(file, handle);
    if (handle) *handle = 0;
    SetLastError(ERROR_PROC_NOT_FOUND);
    return 0;
}

BOOL WINAPI GetFileVersionInfoW(LPCWSTR file, DWORD handle, DWORD size, LPVOID data)
{
    if (Api().info) return Api().info(file, handle, size, data);
    SetLastError(ERROR_PROC_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI VerQueryValueW(LPCVOID block, LPCWSTR subBlock, LPVOID* buffer, PUINT length)
{
    if (Api().query) return Api().query(block, subBlock, buffer, length);
    if (buffer) *buffer = nullptr;
    if (length) *length = 0;
    return FALSE;
}
