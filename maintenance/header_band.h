// Pieces the repair and uninstall dialogs share: the dialog with its four
// controls, the log font, the white header band with the product icon and
// one line of text, and the action button that runs the sequence once and
// then closes the dialog.
#pragma once
#include <windows.h>

#include "platform/window.h"

// Face "ALKATIP", height 19, weight 400.
void CreateMaintenanceLogFont(CFont& font);
void DrawMaintenanceHeader(const DRAWITEMSTRUCT* item, int iconId, const wchar_t* text);
// Repaints a control at once: the sequences run without returning to the
// message loop.
void RepaintNow(HWND control);

using SequenceFunction = bool (*)();

struct MaintenanceControls {
    CButton& action;
    CProgressCtrl& progress;
    CEdit& log;
    CButton& header;
};

// The action button's click: with actionText on it, checks that the input
// method is not loaded, runs the sequence with the bar and log attached and
// turns the button into Finish; with Finish on it, closes the dialog.
void RunMaintenanceAction(CDialog& dialog, const MaintenanceControls& controls, int& state,
                          const wchar_t* actionText, bool (*sequence)());

// The repair (140) and uninstall (141) dialogs: action button 1, log 1006,
// progress bar 1008, header band 1032.
class CMaintenanceDialog : public CDialog {
public:
    explicit CMaintenanceDialog(UINT templateId) : CDialog(templateId, static_cast<HWND>(nullptr)) {}
    int m_state = 0;  // 0 ready, 1 running, 2 finished
    HICON m_hIcon = nullptr;
    CFont m_logFont;

    CButton m_action;          // 1
    CProgressCtrl m_progress;  // 1008
    CEdit m_log;               // 1006
    CButton m_header;          // 1032

    // The action button's click: runs the dialog's sequence once, then Finish.
    void OnAction();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    virtual const wchar_t* ActionText() const = 0;
    virtual SequenceFunction Sequence() const = 0;
    // The icons of the window.
    void ShowIcons();
    // Title "<display name><suffix>", the action text and the log font; a
    // passive run then presses the action button itself.
    void CompleteInit(const wchar_t* titleSuffix, const wchar_t* actionText);
    // The header band: the dialog's icon and its line for the current state.
    bool OnDrawItem(int controlId, DRAWITEMSTRUCT* item) override;
    virtual int HeaderIcon() const = 0;
    virtual void FormatHeaderLine(wchar_t* out /* MAX_PATH */) const = 0;
    DECLARE_COMMAND_MAP()
};
