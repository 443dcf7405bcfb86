#include "maintenance/maintenance_dialog.h"

#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/run_options.h"
#include "base/setup_context.h"
#include "files/in_use.h"
#include "maintenance/maintenance_texts.h"
#include "platform/display_scale.h"
#include "platform/header_band.h"
#include "resources/resource.h"

namespace {
const wchar_t kFace[] = L"ALKATIP";
}  // namespace

void CMaintenanceDialog::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDOK, m_action);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
    DDX_Control(pDX, IDC_LOG, m_log);
    DDX_Control(pDX, IDC_HEADER, m_header);
}

void CMaintenanceDialog::ShowIcons()
{
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);
}

void CMaintenanceDialog::CompleteInit(const wchar_t* titleSuffix, const wchar_t* actionText)
{
    wchar_t title[MAX_PATH];
    BoundedFormat(title, MAX_PATH, L"%s%s", DisplayName(g_setup), titleSuffix);
    SetWindowText(title);
    m_action.SetWindowText(actionText);
    KeepOwnFontOnDpiChange(m_log.m_hWnd);
    OnDpiChanged(WindowDpi(m_hWnd));
    if (IsPassiveRun()) ::PostMessageW(m_hWnd, WM_COMMAND, IDOK, 0);
}

BEGIN_COMMAND_MAP(CMaintenanceDialog)
    ON_BN_CLICKED(IDOK, OnAction)
END_COMMAND_MAP()

void CMaintenanceDialog::OnAction()
{
    wchar_t text[21];
    m_action.GetWindowText(text, 21);
    if (wcscmp(text, ActionText()) == 0) {
        if (m_busy) return;
        // Busy from the click on: an Esc queued behind it, served while the
        // check waits, must not end the dialog under the sequence.
        m_busy = true;
        // Unattended runs replace held files instead of asking to end programs.
        bool goOn = IsUnattendedRun() || ConfirmImeNotLoaded(m_hWnd) == 0;
        m_busy = false;
        if (goOn) StartSequence();
    } else if (wcscmp(text, maint_text::kFinishButton) == 0) {
        OnOK();
    }
}

void CMaintenanceDialog::OnOK()
{
    if (m_busy) return;
    CDialog::OnOK();
}

void CMaintenanceDialog::OnCancel()
{
    if (m_busy) return;
    CDialog::OnCancel();
}

bool CMaintenanceDialog::RunSequence(void* dialog)
{
    return static_cast<CMaintenanceDialog*>(dialog)->m_running();
}

void CMaintenanceDialog::StartSequence()
{
    m_progress.ShowWindow(SW_SHOW);
    g_setup.progressBar = m_progress.m_hWnd;
    g_setup.logBox = m_log.m_hWnd;
    m_state = 1;
    m_busy = true;
    m_header.Invalidate();
    m_header.UpdateWindow();
    // Pressed once: it becomes Finish when the sequence has ended.
    m_action.EnableWindow(FALSE);
    m_running = Sequence();
    if (!m_worker.Start(m_hWnd, &CMaintenanceDialog::RunSequence, this)) EndSequence(m_running());
}

void CMaintenanceDialog::EndSequence(bool done)
{
    SetRunResult(done ? kExitSuccess : kExitFailure);
    m_busy = false;
    m_state = 2;
    m_header.Invalidate();
    // Painted now, so its text is current before Finish is offered.
    m_header.UpdateWindow();
    m_progress.ShowWindow(SW_HIDE);
    m_action.SetWindowText(maint_text::kFinishButton);
    m_action.EnableWindow(TRUE);
    if (IsPassiveRun()) ::PostMessageW(m_hWnd, WM_COMMAND, IDOK, 0);
}

bool CMaintenanceDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result)
{
    if (message != kWorkEndedMessage) return false;
    EndSequence(wParam != 0);
    result = 0;
    return true;
}

void CMaintenanceDialog::OnDpiChanged(UINT dpi)
{
    // Face "ALKATIP", 19 pixels high at 96 DPI, weight 400.
    m_logFont.Attach(CreateFontForDpi(kFace, 19, FW_NORMAL, dpi));
    m_log.SetFont(m_logFont, TRUE);
}

bool CMaintenanceDialog::OnDrawItem(int controlId, DRAWITEMSTRUCT* item)
{
    if (controlId != IDC_HEADER || !item) return false;
    wchar_t text[MAX_PATH];
    FormatHeaderLine(text);
    const HeaderLine line = {30, 22, 19, FW_NORMAL, text};
    DrawHeaderBand(*item, {HeaderIcon(), 6, kFace}, &line, 1);
    return true;
}
