#include "maintenance/header_band.h"

#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/run_options.h"
#include "base/setup_context.h"
#include "files/in_use.h"
#include "maintenance/maintenance_texts.h"
#include "resources/resource.h"

namespace {
LOGFONTW LogFontDescription()
{
    LOGFONTW lf{};
    lf.lfHeight = 19;
    lf.lfWeight = 400;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfOutPrecision = OUT_DEFAULT_PRECIS;
    lf.lfClipPrecision = CLIP_CHARACTER_PRECIS;
    lf.lfQuality = PROOF_QUALITY;
    lf.lfPitchAndFamily = DEFAULT_PITCH;
    BoundedCopy(lf.lfFaceName, LF_FACESIZE, L"ALKATIP");
    return lf;
}
}  // namespace

void CreateMaintenanceLogFont(CFont& font) { font.CreateFontIndirect(LogFontDescription()); }

void DrawMaintenanceHeader(const DRAWITEMSTRUCT* item, int iconId, const wchar_t* text)
{
    if (!item) return;
    HDC dc = item->hDC;
    HBRUSH white = CreateSolidBrush(RGB(0xFF, 0xFF, 0xFF));
    FillRect(dc, &item->rcItem, white);
    DeleteObject(white);

    HICON icon = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(iconId), IMAGE_ICON, 48, 48, LR_DEFAULTCOLOR));
    if (icon) {
        DrawIconEx(dc, item->rcItem.right - 70, 6, icon, 48, 48, 0, nullptr, DI_NORMAL);
        DestroyIcon(icon);
    }

    SetBkMode(dc, TRANSPARENT);
    CFont font;
    font.CreateFontIndirect(LogFontDescription());
    HGDIOBJ previous = SelectObject(dc, font.m_hFont);
    if (text) TextOutW(dc, 30, 22, text, static_cast<int>(wcslen(text)));
    SelectObject(dc, previous);
}

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
    CreateMaintenanceLogFont(m_logFont);
    m_log.SetFont(m_logFont, TRUE);
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

bool CMaintenanceDialog::OnDrawItem(int controlId, DRAWITEMSTRUCT* item)
{
    if (controlId != IDC_HEADER) return false;
    wchar_t text[MAX_PATH];
    FormatHeaderLine(text);
    DrawMaintenanceHeader(item, HeaderIcon(), text);
    return true;
}
