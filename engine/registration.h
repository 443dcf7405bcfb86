// Registration of the input method (IMM before 6.2, a text service from 6.2)
// and the removal operations the uninstaller and the service modes use.
#pragma once
#include <windows.h>

bool RegisterInputMethod();
void WriteProductKeys();
bool RegisterTextServiceClass(const wchar_t* name, const wchar_t* serverPath, bool wow64View);
bool RegisterTipCategories(const GUID& classId, const GUID& profileId);
void UnregisterTipCategories(const GUID& classId, const GUID& profileId);
HKL FindImeLayout(const wchar_t* driverFileName);
int RemoveKeyboardLayout(const wchar_t* imeName, bool broadcast);
LONG RemoveTextServiceClassKeys(const wchar_t* name);
LONG RemoveProductKeys(const wchar_t* name);
LONG DeleteRegistryTree(HKEY parent, const wchar_t* name, HKEY handle);
void BroadcastSettingChange(const wchar_t* keyText);

// The service behaviour started with "/GUID=" alone.
void RemoveTextService(const wchar_t* name);
// The service behaviour started with "/GUID=" and "/EMMODE=n".
void ReregisterInputMethod(const wchar_t* name);
