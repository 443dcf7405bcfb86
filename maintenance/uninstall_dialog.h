// The uninstall dialog (141) and its sequence.
#pragma once
#include "platform/window.h"

bool RunUninstallSequence();
void RemoveProductFiles(const wchar_t* name);
void RemoveProductShortcuts(const wchar_t* displayName);
bool IsEngineFamilyFolderEmpty();

class CCZD_Uninstall : public CDialog {
public:
    CCZD_Uninstall() : CDialog(141, static_cast<HWND>(nullptr)) {}
    int m_state = 0;  // 0 ready, 1 uninstalling, 2 finished
    HICON m_hIcon = nullptr;
    CFont m_logFont;

protected:
    BOOL OnInitDialog() override;
    bool OnDrawItem(int controlId, DRAWITEMSTRUCT* item) override;
    void OnAction();
    DECLARE_COMMAND_MAP()
};
