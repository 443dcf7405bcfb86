#include "wizard/install_dialog.h"

#include <shlobj.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/run_options.h"
#include "base/setup_context.h"
#include "engine/install_sequence.h"
#include "engine/tool_command.h"
#include "files/in_use.h"
#include "payload/payload_preload.h"
#include "platform/display_scale.h"
#include "platform/header_band.h"
#include "platform/registry.h"
#include "resources/resource.h"
#include "wizard/folder_chooser.h"
#include "wizard/licence_dialog.h"
#include "wizard/wizard_texts.h"

wchar_t g_currentFolder[MAX_PATH] = L"c:\\";

namespace {
using namespace wizard_text;

constexpr UINT_PTR kShownTimer = 1;

void SetCheckState(HWND dialog, int id, int state)
{
    SendDlgItemMessageW(dialog, id, BM_SETCHECK, state, 0);
}

LONG WriteStartPage(const wchar_t* address)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Internet Explorer\\Main", 0,
                              const_cast<wchar_t*>(L""), 0, KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    // Written with its terminator: readers of REG_SZ expect one.
    rc = RegWriteString(key, L"Start Page", address);
    RegCloseKey(key);
    return rc;
}

// The record fields are copied verbatim from the payload; never trust their terminator.
void CopyField(const wchar_t* field, size_t capacity, wchar_t* out)
{
    BoundedCopyN(out, capacity, field, capacity - 1);
}

}  // namespace

size_t FormatHeaderWelcomeLine(wchar_t* out)
{
    return BoundedFormat(out, kHeaderLineChars, L"%s", kWelcomeLine);
}

size_t FormatHeaderStageLine(LONG stage, const wchar_t* displayName, wchar_t* out)
{
    switch (stage) {
    case 0: return BoundedFormat(out, kHeaderLineChars, L"%s", kMakerLine);
    case 1: return BoundedFormat(out, kHeaderLineChars, kInstallingLine, displayName ? displayName : L"");
    case 2:
    case 3: return BoundedFormat(out, kHeaderLineChars, L"%s", kFinishLine);
    default: out[0] = L'\0'; return 0;
    }
}

size_t ComposeInstallFolder(const wchar_t* parent, const wchar_t* folderName, wchar_t* out)
{
    wchar_t base[MAX_PATH];
    BoundedCopy(base, MAX_PATH, parent);
    AppendBackslashIfMissing(base, MAX_PATH);
    return BoundedFormat(out, MAX_PATH, L"%s%s\\", base, folderName);
}

CinstkitDlg::~CinstkitDlg()
{
    // The dialog ends only once the worker has posted its end: the join
    // waits for nothing but the thread's return.
    m_worker.Join();
}

void CinstkitDlg::DoDataExchange(CDataExchange* pDX) { CDialog::DoDataExchange(pDX); }

BEGIN_COMMAND_MAP(CinstkitDlg)
    ON_BN_CLICKED(IDOK, OnInstallOrFinish)
    ON_BN_CLICKED(IDC_LICENCE_LINK, OnOpenLicence)
    ON_BN_CLICKED(IDC_AGREE, OnAgree)
    ON_BN_CLICKED(IDC_DISAGREE, OnDisagree)
    ON_BN_CLICKED(IDC_BROWSE, OnBrowse)
END_COMMAND_MAP()

BOOL CinstkitDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    HINSTANCE instance = GetModuleHandleW(nullptr);
    if (!m_hIcon) m_hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_INSTALL));
    SetIcon(m_hIcon, TRUE);
    SetIcon(m_hIcon, FALSE);

    wchar_t displayName[kDisplayNameChars];
    CopyField(DisplayName(g_setup), kDisplayNameChars, displayName);
    wchar_t caption[128];
    BoundedFormat(caption, 128, L"%s%s", displayName, kCaptionSuffix);
    SetWindowText(caption);

    ProposeInstallFolder(g_currentFolder);
    SetDlgItemTextW(m_hWnd, IDC_FOLDER_EDIT, g_currentFolder);

    if (AgreementFlag(g_setup)) {
        ::ShowWindow(GetDlgItem(IDC_LICENCE_LINK), SW_HIDE);
        ::ShowWindow(GetDlgItem(IDC_AGREE), SW_HIDE);
        ::ShowWindow(GetDlgItem(IDC_DISAGREE), SW_HIDE);
        SetCheckState(m_hWnd, IDC_AGREE, BST_CHECKED);
    } else {
        SetCheckState(m_hWnd, IDC_DISAGREE, BST_CHECKED);
        ::EnableWindow(GetDlgItem(IDOK), FALSE);
    }

    SetDlgItemTextW(m_hWnd, IDOK, kInstallText);
    // A passive run presses Install itself once the dialog is up.
    if (IsPassiveRun()) {
        SetCheckState(m_hWnd, IDC_DISAGREE, BST_UNCHECKED);
        SetCheckState(m_hWnd, IDC_AGREE, BST_CHECKED);
        ::EnableWindow(GetDlgItem(IDOK), TRUE);
        ::PostMessageW(m_hWnd, WM_COMMAND, IDOK, 0);
    }

    KeepOwnFontOnDpiChange(GetDlgItem(IDC_LOG));
    OnDpiChanged(WindowDpi(m_hWnd));
    // A timer comes after the first painting: the payload's rest is read
    // once the page is there to read.
    SetTimer(m_hWnd, kShownTimer, USER_TIMER_MINIMUM, nullptr);
    return TRUE;
}

bool CinstkitDlg::OnTimer(UINT_PTR timerId)
{
    if (timerId != kShownTimer) return false;
    KillTimer(m_hWnd, timerId);
    LetPreloadRestBegin();
    return true;
}

void CinstkitDlg::OnDpiChanged(UINT dpi)
{
    // The log font, 28 pixels high at 96 DPI; the owner-drawn parts ask for
    // the DPI each time they are drawn.
    m_logFont.Attach(CreateFontForDpi(kFaceName, 28, FW_NORMAL, dpi));
    ::SendMessageW(GetDlgItem(IDC_LOG), WM_SETFONT, reinterpret_cast<WPARAM>(m_logFont.m_hFont), TRUE);
}

void CinstkitDlg::RedrawHeader()
{
    if (!m_hWnd) return;
    ::InvalidateRect(GetDlgItem(IDC_HEADER), nullptr, TRUE);
    ::InvalidateRect(m_hWnd, nullptr, TRUE);
    // Painted now: the band's text, read by screen readers, is current
    // before the buttons of the new state are offered.
    ::UpdateWindow(GetDlgItem(IDC_HEADER));
}

void CinstkitDlg::OnOK()
{
    if (m_busy) return;
    CDialog::OnOK();
}

void CinstkitDlg::OnCancel()
{
    if (m_busy) return;
    CDialog::OnCancel();
}

bool CinstkitDlg::OnPaint()
{
    if (!IsIconic(m_hWnd)) return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(m_hWnd, &ps);
    SendMessageW(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT rc;
    GetClientRect(m_hWnd, &rc);
    int x = (rc.right - rc.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (rc.bottom - rc.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(dc, x, y, m_hIcon);
    EndPaint(m_hWnd, &ps);
    return true;
}

HCURSOR CinstkitDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon); }

bool CinstkitDlg::OnDrawItem(int controlId, DRAWITEMSTRUCT* item)
{
    if (!item) return false;
    HDC dc = item->hDC;
    const RECT& r = item->rcItem;
    if (controlId == IDC_LICENCE_LINK) {
        // Drawn whole each time, so that the focus mark comes and goes with the focus.
        const bool contrast = HighContrastOn();
        FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
        COLORREF previous = SetTextColor(dc, contrast ? GetSysColor(COLOR_HOTLIGHT) : RGB(0, 100, 0));
        int mode = SetBkMode(dc, TRANSPARENT);
        const UINT dpi = WindowDpi(item->hwndItem);
        TextOutW(dc, r.left + ScaleToDpi(5, dpi), r.top + ScaleToDpi(2, dpi), kLinkText,
                 static_cast<int>(wcslen(kLinkText)));
        SetBkMode(dc, mode);
        SetTextColor(dc, previous);
        if ((item->itemState & ODS_FOCUS) && !(item->itemState & ODS_NOFOCUSRECT)) DrawFocusRect(dc, &r);
        return true;
    }
    if (controlId == IDC_HEADER) {
        wchar_t welcome[kHeaderLineChars], stage[kHeaderLineChars];
        FormatHeaderWelcomeLine(welcome);
        wchar_t displayName[kDisplayNameChars];
        CopyField(DisplayName(g_setup), kDisplayNameChars, displayName);
        FormatHeaderStageLine(m_stage, displayName, stage);
        const HeaderLine lines[] = {{50, 10, 20, FW_BOLD, welcome}, {200, 35, 16, FW_NORMAL, stage}};
        DrawHeaderBand(*item, {IDI_INSTALL, 3, kFaceName}, lines, 2);
        return true;
    }
    return false;
}

bool CinstkitDlg::OnSetCursor(HWND hwnd, UINT, UINT, BOOL& result)
{
    if (hwnd && hwnd == GetDlgItem(IDC_LICENCE_LINK)) {
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        result = TRUE;
        return true;
    }
    return false;
}

// While the worker runs the page is locked; a click that was queued
// before, or a message sent to a disabled control, changes nothing.
void CinstkitDlg::OnAgree()
{
    if (!m_busy) ::EnableWindow(GetDlgItem(IDOK), TRUE);
}

void CinstkitDlg::OnDisagree()
{
    if (!m_busy) ::EnableWindow(GetDlgItem(IDOK), FALSE);
}

void CinstkitDlg::OnOpenLicence()
{
    if (m_busy) return;
    CZD_Install_Licence licence(m_hWnd);
    if (licence.DoModal() == IDOK) {
        SetCheckState(m_hWnd, IDC_DISAGREE, BST_UNCHECKED);
        SetCheckState(m_hWnd, IDC_AGREE, BST_CHECKED);
        ::EnableWindow(GetDlgItem(IDOK), TRUE);
    } else {
        SetCheckState(m_hWnd, IDC_AGREE, BST_UNCHECKED);
        SetCheckState(m_hWnd, IDC_DISAGREE, BST_CHECKED);
        ::EnableWindow(GetDlgItem(IDOK), FALSE);
    }
}

void CinstkitDlg::OnBrowse()
{
    if (m_busy) return;
    wchar_t chosen[MAX_PATH];
    if (!ChooseFolder(m_hWnd, g_currentFolder, kBrowseTitle, chosen)) return;
    wchar_t folderName[kDefaultFolderNameChars];
    CopyField(DefaultFolderName(g_setup), kDefaultFolderNameChars, folderName);
    ComposeInstallFolder(chosen, folderName, g_currentFolder);
    SetDlgItemTextW(m_hWnd, IDC_FOLDER_EDIT, g_currentFolder);
}

void ProposeInstallFolder(wchar_t* out)
{
    out[0] = L'\0';
    // Proposal: <program files>\<default folder name>\ .
    wchar_t programFiles[MAX_PATH] = L"";
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES | CSIDL_FLAG_CREATE, nullptr, 0, programFiles)) &&
        programFiles[0]) {
        wchar_t folderName[kDefaultFolderNameChars];
        CopyField(DefaultFolderName(g_setup), kDefaultFolderNameChars, folderName);
        ComposeInstallFolder(programFiles, folderName, out);
    }

    // An earlier installation keeps its folder.
    wchar_t keyPath[128];
    BoundedFormat(keyPath, 128, L"Software\\ZerdaIME3\\%s", g_setup.name);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        wchar_t location[256];
        if (RegReadString(key, L"InstallLocation", location, 256) == ERROR_SUCCESS)
            BoundedCopy(out, MAX_PATH, location);
        RegCloseKey(key);
    }
    // The folder named on the command line wins over both.
    if (g_run.installFolder[0]) BoundedCopy(out, MAX_PATH, g_run.installFolder);
}

void ApplyFinishChoices(bool startPage, bool newsAutostart)
{
    if (startPage) {
        wchar_t address[kAboutAddressChars];
        CopyField(AboutAddress(g_setup), kAboutAddressChars, address);
        if (address[0]) WriteStartPage(address);
    }
    if (newsAutostart) WriteNewsAutostart(g_setup.installFolder);
}

void CinstkitDlg::OnInstallOrFinish()
{
    wchar_t text[64];
    GetDlgItemTextW(m_hWnd, IDOK, text, 64);
    text[63] = L'\0';
    HWND button = GetDlgItem(IDOK);
    if (wcscmp(text, kInstallText) == 0 && ::IsWindowEnabled(button)) {
        if (m_busy) return;
        // Busy from the click on: an Esc or a second click queued behind
        // it, served while the check below waits, ends or starts nothing.
        m_busy = 1;
        ::EnableWindow(button, FALSE);
        // Unattended runs replace held files instead of asking to end programs.
        if (!IsUnattendedRun() && ConfirmImeNotLoaded(m_hWnd) != 0) {
            m_busy = 0;
            ::EnableWindow(button, TRUE);
            return;
        }
        StartInstall();
        return;
    }
    // Never end the dialog under a running worker: it still uses the controls.
    if (m_busy) return;
    // The two boxes are a person's choices: a passive run makes none, and
    // after a failed installation there is nothing to start.
    if (!IsUnattendedRun() && m_stage == 2)
        ApplyFinishChoices(IsDlgButtonChecked(m_hWnd, IDC_HOMEPAGE_CHECK) == BST_CHECKED,
                           IsDlgButtonChecked(m_hWnd, IDC_NEWS_CHECK) == BST_CHECKED);
    EndDialog(0);
}

void CinstkitDlg::LockFolderPage(bool locked)
{
    for (int id : {IDC_FOLDER_EDIT, IDC_BROWSE, IDC_LICENCE_LINK, IDC_AGREE, IDC_DISAGREE, IDOK})
        ::EnableWindow(GetDlgItem(id), !locked);
}

// On the dialog's thread, before the worker exists: the worker only asks
// its questions, and the dialog shows what it did.
void CinstkitDlg::StartInstall()
{
    m_stage = 1;
    RedrawHeader();
    LockFolderPage(true);
    GetDlgItemTextW(m_hWnd, IDC_FOLDER_EDIT, m_folderText, MAX_PATH);
    m_folderText[MAX_PATH - 1] = L'\0';
    if (!m_worker.Start(m_hWnd, &InstallWorker, this)) {
        InstallWorker(this);
        EndInstall();
    }
}

void CinstkitDlg::ShowProgressView()
{
    // The folder the worker settled on (the offered one, when it was taken).
    BoundedCopy(g_currentFolder, MAX_PATH, m_folderText);
    SetDlgItemTextW(m_hWnd, IDC_FOLDER_EDIT, m_folderText);
    g_setup.progressBar = GetDlgItem(IDC_PROGRESS);
    g_setup.logBox = GetDlgItem(IDC_LOG);
    for (int id : {IDC_PROGRESS, IDC_LOG}) ::ShowWindow(GetDlgItem(id), SW_SHOW);
    for (int id : {IDC_FOLDER_GROUP, IDC_BROWSE, IDC_FOLDER_EDIT, IDC_LICENCE_LINK, IDC_AGREE, IDC_DISAGREE})
        ::ShowWindow(GetDlgItem(id), SW_HIDE);
}

void CinstkitDlg::EndInstall()
{
    m_busy = 0;
    // The start routine reports a payload that could not be unpacked, as it
    // does one that failed before the wizard.
    if (m_outcome == static_cast<LONG>(InstallWorkOutcome::PayloadFailed)) {
        EndDialog(0);
        return;
    }
    const bool refused = m_outcome == static_cast<LONG>(InstallWorkOutcome::FolderRefused);
    if (refused || m_outcome == static_cast<LONG>(InstallWorkOutcome::BackToFolderPage)) {
        m_stage = 0;
        // The bar showed the payload's rest being written, if it still was.
        ::ShowWindow(GetDlgItem(IDC_PROGRESS), SW_HIDE);
        LockFolderPage(false);
        RedrawHeader();
        // A passive run has nobody to choose another folder.
        if (IsPassiveRun()) {
            SetRunResult(refused ? kExitBadCommandLine : kExitFailure);
            ::PostMessageW(m_hWnd, WM_COMMAND, IDCANCEL, 0);
        }
        return;
    }
    m_stage = m_outcome == static_cast<LONG>(InstallWorkOutcome::Installed) ? 2 : 3;
    for (int id : {IDC_HOMEPAGE_CHECK, IDC_NEWS_CHECK}) {
        ::ShowWindow(GetDlgItem(id), SW_SHOW);
        CheckDlgButton(m_hWnd, id, BST_CHECKED);
    }
    RedrawHeader();
    SetDlgItemTextW(m_hWnd, IDOK, kFinishText);
    ::EnableWindow(GetDlgItem(IDOK), TRUE);
    ::ShowWindow(GetDlgItem(IDC_PROGRESS), SW_HIDE);
    // A passive run presses Finish itself.
    if (IsPassiveRun()) ::PostMessageW(m_hWnd, WM_COMMAND, IDOK, 0);
}

bool CinstkitDlg::OnMessage(UINT message, WPARAM, LPARAM, INT_PTR& result)
{
    if (message != kWorkEndedMessage) return false;
    EndInstall();
    result = 0;
    return true;
}
