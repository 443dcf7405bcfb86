// The install wizard (129): header by stage, agreement row, folder row,
// Install/Finish; it shows what the install worker does behind it.
#pragma once
#include "platform/dialog_worker.h"
#include "platform/window.h"

#include <cstddef>

// The proposed install folder; the folder chooser starts from it.
extern wchar_t g_currentFolder[MAX_PATH];

// Each header line is formatted into a buffer of this many characters.
constexpr size_t kHeaderLineChars = 64;
size_t FormatHeaderWelcomeLine(wchar_t* out /* kHeaderLineChars */);
// The second header line for a stage (0 waiting, 1 installing, 2/3 ended).
size_t FormatHeaderStageLine(LONG stage, const wchar_t* displayName, wchar_t* out /* kHeaderLineChars */);
// parent + backslash when missing + folderName + backslash, cut to 259 characters.
size_t ComposeInstallFolder(const wchar_t* parent, const wchar_t* folderName, wchar_t* out /* MAX_PATH */);

// The folder the wizard proposes: "/dir=", else an earlier installation's
// folder, else <program files>\<default folder name>\.
void ProposeInstallFolder(wchar_t* out /* MAX_PATH */);
// What Finish does with its two check boxes.
void ApplyFinishChoices(bool startPage, bool newsAutostart);

// The install worker, on a thread of its own; dialog: the CinstkitDlg. Its
// end reaches the dialog as a posted message.
bool InstallWorker(void* dialog);

class CinstkitDlg : public CDialog {
public:
    explicit CinstkitDlg(HWND parent = nullptr) : CDialog(129, parent) {}
    ~CinstkitDlg() override;

    volatile LONG m_stage = 0;  // 0 waiting, 1 installing, 2 done, 3 failed
    volatile LONG m_busy = 0;   // from the Install click to the worker's end
    // What the worker works on and where it ended (an InstallWorkOutcome).
    wchar_t m_folderText[MAX_PATH] = L"";
    volatile LONG m_outcome = 0;
    HICON m_hIcon = nullptr;
    CFont m_logFont;

    void RedrawHeader();
    // The progress view in place of the folder page; on the dialog's thread.
    void ShowProgressView();
    void OnOK() override;
    void OnCancel() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    bool OnPaint() override;
    bool OnTimer(UINT_PTR timerId) override;
    HCURSOR OnQueryDragIcon() override;
    bool OnDrawItem(int controlId, DRAWITEMSTRUCT* item) override;
    bool OnSetCursor(HWND hwnd, UINT hitTest, UINT message, BOOL& result) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void OnDpiChanged(UINT dpi) override;
    void OnInstallOrFinish();
    void OnOpenLicence();
    void OnAgree();
    void OnDisagree();
    void OnBrowse();
    DECLARE_COMMAND_MAP()

private:
    // The folder page taken from the person (or given back) while the worker runs.
    void LockFolderPage(bool locked);
    void StartInstall();
    // The worker's end, on the dialog's thread: the folder page again, or Finish.
    void EndInstall();
    DialogWorker m_worker;
};
