// The install worker and its seven-step sequence.
#pragma once
#include <windows.h>

bool RunInstallSequence(const wchar_t* folderText, const wchar_t* owner, const wchar_t* organisation);

// What happens before the numbered steps: the folder is cleared of an earlier
// installation (asked first, in an interactive run) and created.
enum class InstallFolderState { Ready, Declined, Failed };
InstallFolderState PrepareInstallFolder(HWND owner, const wchar_t* folderText);
// The install worker's work without the wizard: folder, then the sequence.
bool RunUnattendedInstall(const wchar_t* folderText);

// What the worker drives of the wizard: its window (controls 1, 1001-1009,
// 1022), its stage and busy flag and the repaint of its header.
struct InstallWorkerTarget {
    HWND dialog;
    volatile LONG* stage;
    volatile LONG* busy;
    void (*redrawHeader)(void* owner);
    void* owner;
};
// The body of InstallWorker; always 0.
DWORD RunInstallWorker(const InstallWorkerTarget& target);
