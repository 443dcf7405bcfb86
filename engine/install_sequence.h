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

// Where the install worker's work ended.
enum class InstallWorkOutcome : LONG { BackToFolderPage, Installed, Failed };

// What the worker needs of the wizard: its window (the owner of the
// questions), the folder text taken when Install was pressed, and the
// switch to the progress view, called once the folder is ready.
struct InstallWorkerTarget {
    HWND dialog;
    const wchar_t* folderText;
    void (*showProgressView)(void* owner);
    void* owner;
};
// The body of InstallWorker: the folder, then the seven steps. It changes no
// control itself; the wizard shows the outcome.
InstallWorkOutcome RunInstallWorker(const InstallWorkerTarget& target);
