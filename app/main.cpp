// Entry point of the setup program.
#include <windows.h>

#include <cstdlib>

#include "app/installer_app.h"
#include "platform/system_library.h"

namespace {

// The program runs elevated from folders that anyone can write to (downloads,
// the temporary folder): every DLL it loads by name comes from the system
// folder, never from beside it or from the current folder.
void RestrictDllSearch()
{
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    // Looked up, not imported: Windows 7 has it only with its loader update.
    auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    SetDllDirectoryW(L"");
    if (setDefault) setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    else PreloadSystemLibraries();
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    RestrictDllSearch();
    CinstkitApp app;
    app.InitInstance(commandLine);
    return app.ExitInstance();
}

// libstdc++'s default handler demangles the exception's type name for a
// message that a windowed program shows nobody, and brings the demangler
// into the shipped program; ending is all that is left to do.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
