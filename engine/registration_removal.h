// The two halves of RemoveProductKeys, for an uninstall that removes the
// install folder between them, and the uninstall entry's reader.
#pragma once
#include <windows.h>

// Software\ZerdaIME3\<name> in both registry views.
LONG RemoveOwnProductKeys(const wchar_t* name);
// Software\Microsoft\Windows\CurrentVersion\Uninstall\<name>.
LONG RemoveUninstallEntry(const wchar_t* name);
// True when the uninstall entry exists; buffer (MAX_PATH) gets its
// "InstallLocation" with a trailing backslash, or stays empty.
bool ReadUninstallEntryLocation(const wchar_t* name, wchar_t* buffer);
