// Removal of the input method's keyboard layout and of the product's keys,
// in halves for an uninstall that removes the install folder between them,
// and the uninstall entry's reader.
#pragma once
#include <windows.h>

// Compares the file-name part of each layout's IME file (Wine reports the
// full path). An empty name finds nothing.
HKL FindImeLayout(const wchar_t* driverFileName);
// Removes every layout of <imeName>.ime: the one loaded for the caller and
// each whose key's "Ime File" names the driver, with their Preload entries.
// 0 when there is none (always for an empty name).
int RemoveKeyboardLayout(const wchar_t* imeName, bool broadcast);
// Both refuse (ERROR_INVALID_PARAMETER) a name that is not a GUID text.
LONG RemoveTextServiceClassKeys(const wchar_t* name);
LONG RemoveProductKeys(const wchar_t* name);
// Deletes `name` below `parent` with everything under it; `handle` is the
// open key of `name` (needs enumerate and delete access) and is always closed.
LONG DeleteRegistryTree(HKEY parent, const wchar_t* name, HKEY handle);

// Software\ZerdaIME3\<name> in both registry views.
LONG RemoveOwnProductKeys(const wchar_t* name);
// Software\Microsoft\Windows\CurrentVersion\Uninstall\<name>.
LONG RemoveUninstallEntry(const wchar_t* name);
// True when the uninstall entry exists; buffer (MAX_PATH) gets its
// "InstallLocation" with a trailing backslash, or stays empty.
bool ReadUninstallEntryLocation(const wchar_t* name, wchar_t* buffer);
