// The uninstall dialog (141) and its sequence.
#pragma once
#include <cstddef>

#include "platform/window.h"

bool RunUninstallSequence();
void RemoveProductFiles(const wchar_t* name);
void RemoveProductShortcuts(const wchar_t* displayName);
bool IsEngineFamilyFolderEmpty();

// The companion tool's uninstall command: every "{appPath}\" replaced by the
// install folder, then split at the first " /" into file and parameters.
// False (both emptied) for an empty command.
bool SplitToolUninstallCommand(const wchar_t* command, const wchar_t* installFolder, wchar_t* file,
                               size_t fileCapacity, wchar_t* parameters, size_t parametersCapacity);
// Starts that command hidden through the shell; nothing waits for it.
void RunToolUninstallCommand();

class CCZD_Uninstall : public CDialog {
public:
    CCZD_Uninstall() : CDialog(141, static_cast<HWND>(nullptr)) {}
    int m_state = 0;  // 0 ready, 1 uninstalling, 2 finished
    HICON m_hIcon = nullptr;
    CFont m_logFont;

    CButton m_action;        // 1
    CProgressCtrl m_progress;  // 1008
    CEdit m_log;             // 1006
    CButton m_header;        // 1032

    void OnAction();

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    bool OnDrawItem(int controlId, DRAWITEMSTRUCT* item) override;
    DECLARE_COMMAND_MAP()
};
