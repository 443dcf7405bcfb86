// The folder chooser on the system file-open dialog.
#pragma once
#include <windows.h>

extern wchar_t g_lastChosenFolder[MAX_PATH];

// result: 260 characters. True when the user ended with an existing folder.
bool ChooseFolder(HWND owner, const wchar_t* startFolder, const wchar_t* title, wchar_t* result);
