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

void RepaintNow(HWND control)
{
    if (!control) return;
    InvalidateRect(control, nullptr, TRUE);
    UpdateWindow(control);
}

void RunMaintenanceAction(CDialog& dialog, const MaintenanceControls& controls, int& state,
                          const wchar_t* actionText, bool (*sequence)())
{
    wchar_t text[21];
    controls.action.GetWindowText(text, 21);
    if (wcscmp(text, actionText) == 0) {
        // Unattended runs replace held files instead of asking to end programs.
        if (!IsUnattendedRun() && ConfirmImeNotLoaded(dialog.m_hWnd) != 0) return;
        controls.progress.ShowWindow(SW_SHOW);
        g_setup.progressBar = controls.progress.m_hWnd;
        g_setup.logBox = controls.log.m_hWnd;
        state = 1;
        RepaintNow(controls.header.m_hWnd);
        bool done = sequence();
        SetRunResult(done ? kExitSuccess : kExitFailure);
        state = 2;
        RepaintNow(controls.header.m_hWnd);
        controls.progress.ShowWindow(SW_HIDE);
        controls.action.SetWindowText(maint_text::kFinishButton);
        if (IsPassiveRun()) ::PostMessageW(dialog.m_hWnd, WM_COMMAND, IDOK, 0);
    } else if (wcscmp(text, maint_text::kFinishButton) == 0) {
        dialog.OnOK();
    }
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
    RunMaintenanceAction(*this, {m_action, m_progress, m_log, m_header}, m_state, ActionText(), Sequence());
}

bool CMaintenanceDialog::OnDrawItem(int controlId, DRAWITEMSTRUCT* item)
{
    if (controlId != IDC_HEADER) return false;
    wchar_t text[MAX_PATH];
    FormatHeaderLine(text);
    DrawMaintenanceHeader(item, HeaderIcon(), text);
    return true;
}
