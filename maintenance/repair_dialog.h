// The repair dialog (140) and its sequence.
#pragma once
#include "platform/window.h"

bool RunRepairSequence();

class CZD_Repair : public CDialog {
public:
    CZD_Repair() : CDialog(140, static_cast<HWND>(nullptr)) {}
    int m_state = 0;  // 0 ready, 1 repairing, 2 finished
    HICON m_hIcon = nullptr;
    CFont m_logFont;

protected:
    BOOL OnInitDialog() override;
    bool OnDrawItem(int controlId, DRAWITEMSTRUCT* item) override;
    void OnAction();
    DECLARE_COMMAND_MAP()
};
