// The install worker and its seven-step sequence.
#pragma once
#include <windows.h>

DWORD WINAPI InstallWorker(LPVOID dialog);  // dialog: the CinstkitDlg
bool RunInstallSequence(const wchar_t* folderText, const wchar_t* owner, const wchar_t* organisation);
