#include "platform/system_library.h"

#include <commctrl.h>

#include <cwchar>

bool ComposeSystemPath(const wchar_t* name, wchar_t* out, size_t capacity)
{
    if (!out || capacity == 0) return false;
    out[0] = L'\0';
    if (!name || !name[0]) return false;
    wchar_t folder[MAX_PATH];
    UINT n = GetSystemDirectoryW(folder, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    const bool separator = folder[n - 1] != L'\\';
    const size_t nameLength = wcslen(name);
    if (n + (separator ? 1 : 0) + nameLength >= capacity) return false;  // a cut path names another file
    wmemcpy(out, folder, n);
    size_t at = n;
    if (separator) out[at++] = L'\\';
    wmemcpy(out + at, name, nameLength);
    out[at + nameLength] = L'\0';
    return true;
}

HMODULE LoadSystemLibrary(const wchar_t* name)
{
    wchar_t path[MAX_PATH];
    if (!ComposeSystemPath(name, path, MAX_PATH)) return nullptr;
    return LoadLibraryW(path);
}

void EnsureCommonControls()
{
    static INIT_ONCE once = INIT_ONCE_STATIC_INIT;
    InitOnceExecuteOnce(
        &once,
        [](PINIT_ONCE, void*, void**) -> BOOL {
            using InitFn = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
            HMODULE library = LoadLibraryW(L"comctl32.dll");
            auto init = library ? reinterpret_cast<InitFn>(
                                      reinterpret_cast<void*>(GetProcAddress(library, "InitCommonControlsEx")))
                                : nullptr;
            // List view, tree view, bars, tabs, up-down, progress, hot-key, animation.
            INITCOMMONCONTROLSEX controls{8, 0xFF};
            if (init) init(&controls);
            return TRUE;
        },
        nullptr, nullptr);
}

BOOL ShowOpenFileDialog(OPENFILENAMEW* dialog)
{
    using OpenFn = BOOL(WINAPI*)(OPENFILENAMEW*);
    static OpenFn open = nullptr;
    if (!open) {
        HMODULE library = LoadSystemLibrary(L"comdlg32.dll");
        open = library ? reinterpret_cast<OpenFn>(reinterpret_cast<void*>(GetProcAddress(library, "GetOpenFileNameW")))
                       : nullptr;
    }
    return open ? open(dialog) : FALSE;
}

const wchar_t* const kLateSystemLibraries[] = {
    L"uxtheme.dll",  L"dwmapi.dll",  L"oleacc.dll",   L"version.dll", L"cryptbase.dll", L"sspicli.dll",
    L"secur32.dll",  L"profapi.dll", L"userenv.dll",  L"propsys.dll", L"apphelp.dll",   L"setupapi.dll",
    L"clbcatq.dll",  L"ntmarta.dll", L"linkinfo.dll", L"ntshrui.dll", L"srvcli.dll",    L"cscapi.dll",
};
const size_t kLateSystemLibraryCount = sizeof kLateSystemLibraries / sizeof kLateSystemLibraries[0];

void PreloadSystemLibraries()
{
    for (size_t i = 0; i < kLateSystemLibraryCount; ++i) {
        wchar_t path[MAX_PATH];
        if (!ComposeSystemPath(kLateSystemLibraries[i], path, MAX_PATH)) continue;
        // The altered search path looks for the library's own imports in its
        // folder, not beside the program.
        LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
}
