// The install worker and its seven-step sequence.
#pragma once
#include <windows.h>

bool RunInstallSequence(const wchar_t* folderText, const wchar_t* owner, const wchar_t* organisation);

// What happens before the numbered steps: the folder is judged, cleared of
// an earlier installation (asked first, in an interactive run) and created.
// A folder that holds others' things is never used: a person is offered a
// folder of the product's own inside it, which then replaces folderText
// (MAX_PATH); an unattended run is refused.
enum class InstallFolderState { Ready, Declined, Failed, Refused };
InstallFolderState PrepareInstallFolder(HWND owner, wchar_t* folderText);

// Where the install worker's work ended; FolderRefused: an unattended run
// named a folder that is not to be used; PayloadFailed: the payload's rest
// could not be unpacked, nothing was done.
enum class InstallWorkOutcome : LONG { BackToFolderPage, Installed, Failed, FolderRefused, PayloadFailed };
// The install worker's work without the wizard: folder, then the sequence.
InstallWorkOutcome RunUnattendedInstall(wchar_t* folderText /* MAX_PATH */);

// What the worker needs of the wizard: its window (the owner of the
// questions), the folder text taken when Install was pressed (the folder
// used in the end is written back), and the switch to the progress view,
// called once the folder is ready.
struct InstallWorkerTarget {
    HWND dialog;
    wchar_t* folderText;
    void (*showProgressView)(void* owner);
    void* owner;
};
// The body of InstallWorker: the folder, then the seven steps. It changes no
// control itself; the wizard shows the outcome.
InstallWorkOutcome RunInstallWorker(const InstallWorkerTarget& target);
