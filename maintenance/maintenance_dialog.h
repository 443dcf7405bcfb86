// What the repair and uninstall dialogs share: the dialog with its four
// controls, the log font, the header band with the product icon and one line
// of text, and the action button that runs the sequence once and then closes
// the dialog.
#pragma once
#include <windows.h>

#include "platform/dialog_worker.h"
#include "platform/window.h"

using SequenceFunction = bool (*)();

// The repair (140) and uninstall (141) dialogs: action button 1, log 1006,
// progress bar 1008, header band 1032. The sequence runs on a worker thread
// while the dialog keeps answering; it cannot be closed meanwhile.
class CMaintenanceDialog : public CDialog {
public:
    explicit CMaintenanceDialog(UINT templateId) : CDialog(templateId, static_cast<HWND>(nullptr)) {}
    int m_state = 0;  // 0 ready, 1 running, 2 finished
    bool m_busy = false;  // the sequence runs
    HICON m_hIcon = nullptr;
    CFont m_logFont;

    CButton m_action;          // 1
    CProgressCtrl m_progress;  // 1008
    CEdit m_log;               // 1006
    CButton m_header;          // 1032

    // The action button's click: with the action text on it, checks that the
    // input method is not loaded and starts the sequence; with Finish on it,
    // closes the dialog.
    void OnAction();
    void OnOK() override;
    void OnCancel() override;

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
    void OnDpiChanged(UINT dpi) override;
    virtual int HeaderIcon() const = 0;
    virtual void FormatHeaderLine(wchar_t* out /* MAX_PATH */) const = 0;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    DECLARE_COMMAND_MAP()

private:
    void StartSequence();
    // The sequence's end, on the dialog's thread: state 2 and the Finish button.
    void EndSequence(bool done);
    static bool RunSequence(void* dialog);
    SequenceFunction m_running = nullptr;
    DialogWorker m_worker;
};
