// The repair dialog (140) and its sequence.
#pragma once
#include "platform/window.h"

bool RunRepairSequence();

// How the dialog ends the process when the backup archive is missing. The
// standard exit by default; a test puts its own function here (when that
// returns, the dialog closes instead).
using ProcessExitFunction = void (*)(int exitCode);
void SetRepairExitFunction(ProcessExitFunction exitFunction);

class CZD_Repair : public CDialog {
public:
    CZD_Repair() : CDialog(140, static_cast<HWND>(nullptr)) {}
    int m_state = 0;  // 0 ready, 1 repairing, 2 finished
    HICON m_hIcon = nullptr;
    CFont m_logFont;

    CButton m_action;          // 1
    CProgressCtrl m_progress;  // 1008
    CEdit m_log;               // 1006
    CButton m_header;          // 1032

    void OnAction();

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnDrawItem(int controlId, DRAWITEMSTRUCT* item) override;
    DECLARE_COMMAND_MAP()
};
