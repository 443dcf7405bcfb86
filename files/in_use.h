// Finding the programs that hold a file and letting the user end them.
#pragma once
#include <windows.h>

#include <vector>

#include "platform/window.h"

// 1 at program start; cleared the first time a process list dialog shown by a
// placement ends with OK.
extern int g_bRetryAfterLoadStatus;

int ProcessHasModule(DWORD processId, const wchar_t* wantedPath, int modules32);
DWORD FindCompanionToolProcess();
// OpenProcess(PROCESS_TERMINATE) + TerminateProcess with its own exit code.
void TerminateProcessById(DWORD processId);

class CZD_IMELoadStatus : public CDialog {
public:
    explicit CZD_IMELoadStatus(HWND parent) : CDialog(133, parent) {}

    int m_bModules32 = 0;
    wchar_t m_szModulePath[MAX_PATH] = L"";
    std::vector<DWORD> m_processIds;

    CListCtrl m_list;  // control 1006

    int CollectModuleHolders();
    void OnForceEnd();
    void OnRetry();

protected:
    BOOL OnInitDialog() override;
    void FillRows();
    DECLARE_COMMAND_MAP()
};

// Shows the process list for `path` (a full path or a bare file name);
// returns the dialog's result (IDOK when no holder is left).
INT_PTR ShowLoadStatus(HWND parent, const wchar_t* path, int modules32);

// 0: the operation may go on; 1: the user gave up.
int ConfirmImeNotLoaded(HWND parent);
