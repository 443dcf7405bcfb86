// Finding the programs that hold a file and letting the user end them.
#pragma once
#include <windows.h>

#include <vector>

#include "platform/window.h"

// 1 at program start; cleared the first time a process list dialog shown by a
// placement ends with OK.
extern int g_bRetryAfterLoadStatus;

// 1 when the process has a module whose full path ends with wantedPath
// (A to Z compared without case).
int ProcessHasModule(DWORD processId, const wchar_t* wantedPath, int modules32);
// Id of a running companion tool (path contains "\tools\varekinputtool.exe"), or 0.
DWORD FindCompanionToolProcess();
// OpenProcess(PROCESS_TERMINATE) + TerminateProcess with its own exit code.
// waitMs > 0 also waits that long for the process to be gone. Returns true
// when the process could be opened and terminated.
bool TerminateProcessById(DWORD processId, DWORD waitMs = 0);

class CZD_IMELoadStatus : public CDialog {
public:
    explicit CZD_IMELoadStatus(HWND parent) : CDialog(133, parent) {}
    ~CZD_IMELoadStatus() override = default;

    int m_bModules32 = 0;
    // The check before the work: once a holder outlives Force End (it came
    // back, or could not be ended), the person may go on (IDCONTINUE).
    bool m_offerGoOn = false;
    wchar_t m_szModulePath[MAX_PATH] = L"";
    std::vector<DWORD> m_processIds;

    CListCtrl m_list;  // control 1006

    // 0 when the processes cannot be enumerated at all.
    int CollectModuleHolders();
    // The same on a thread of its own while this thread keeps serving its
    // windows; `busy` (may be null) takes no input meanwhile.
    void CollectServingMessages(HWND busy);
    void OnForceEnd();
    void OnRetry();
    void OnGoOn();

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnDpiChanged(UINT dpi) override;
    void FillRows();
    // Closes the dialog with OK when no holder is left, else lists them anew.
    void ShowHolders();
    DECLARE_COMMAND_MAP()
};

// Shows the process list for `path` (a full path or a bare file name), on
// the thread of `parent` when a worker asks; returns the dialog's result
// (IDOK when no holder is left).
INT_PTR ShowLoadStatus(HWND parent, const wchar_t* path, int modules32);

// 0: the operation may go on; 1: the user gave up. Going on while the input
// method is held makes its drivers go in, or out, at the next restart.
int ConfirmImeNotLoaded(HWND parent);
// Whether the person went on with this file (any folder) still in use: its
// placement then takes the held file's road without a further list.
bool IsHeldUntilRestartAccepted(const wchar_t* path);
