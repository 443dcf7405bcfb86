// Shared by the registration and its removal.
#pragma once
#include <windows.h>

// True for a non-empty text without backslash that parses as a GUID.
bool ParseProductKeyName(const wchar_t* name, GUID* guid);
// WM_WININICHANGE for keyText to every top-level window.
void BroadcastSettingChange(const wchar_t* keyText);
