// Windows' own functions that put a keyboard layout or text service into a
// user's list of keyboards, or take it out (input.dll). The library has no
// import library and is no known DLL: it is loaded from the system folder by
// its full path, and a system without it (Wine, some reduced editions) has
// neither function.
#pragma once
#include <windows.h>

// Flags of both functions; the headers of the SDK do not define them.
constexpr DWORD kIlotUninstall = 0x00000001;
constexpr DWORD kIlotDefProfile = 0x00000002;
constexpr DWORD kIlotNoApplyToCurrentSession = 0x00000020;

// Entry lists: "<langid>:<layout id>" or "<langid>:{text service}{profile}",
// several joined by ';'.
using InstallLayoutOrTipFn = BOOL(CALLBACK*)(LPCWSTR list, DWORD flags);
// userRegistry: the registry path of the user's hive ("HKEY_USERS\<key>");
// null system and software paths mean the machine's own.
using InstallLayoutOrTipUserRegFn = BOOL(CALLBACK*)(LPCWSTR userRegistry, LPCWSTR systemRegistry,
                                                    LPCWSTR softwareRegistry, LPCWSTR list, DWORD flags);

struct InputListApi {
    InstallLayoutOrTipFn install = nullptr;
    InstallLayoutOrTipUserRegFn installUserReg = nullptr;
};

// Both functions, or false when the library or either function is missing.
// The library stays loaded for the life of the process.
bool LoadInputListApi(InputListApi* api);
