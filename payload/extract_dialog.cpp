// The extraction dialog: the whole extraction starts at its first timer tick
// after it has become visible and runs on a worker thread, so that the dialog
// keeps answering; then the dialog closes itself with OK or Cancel.
#include "payload/extract_dialog.h"

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/setup_context.h"
#include "payload/archive.h"
#include "payload/archive_copy.h"
#include "payload/backup_check.h"
#include "payload/config_data.h"
#include "payload/fonts.h"
#include "payload/payload_preload.h"
#include "resources/resource.h"

namespace {

constexpr UINT_PTR kExtractTimer = 1;

// The progress callback gets no context: it reaches the running dialog here.
// One extraction at most runs per process.
CZD_Extract* g_runningExtract = nullptr;

// The line and the bar follow the work, at most once in this many
// milliseconds: nobody reads faster, and every update waits for the
// dialog's thread. A failure and the end always show.
constexpr ULONGLONG kShowEveryMs = 30;
ULONGLONG g_lastShown = 0;

void ShowExtractProgress(const wchar_t* text, int32_t done, int32_t total)
{
    CZD_Extract* dialog = g_runningExtract;
    if (!dialog) return;
    const ULONGLONG now = GetTickCount64();
    const bool always = total <= 0 || done == total;
    if (!always && g_lastShown != 0 && now - g_lastShown < kShowEveryMs) return;
    g_lastShown = now;
    dialog->m_text.SetWindowText(text);
    int position = total > 0 ? static_cast<int>(static_cast<int64_t>(done) * 100 / total) : done;
    dialog->m_progress.SendMessage(PBM_SETPOS, position);
}

void ShowExtractStatus(const wchar_t* text)
{
    CZD_Extract* dialog = g_runningExtract;
    if (!dialog) return;
    dialog->m_text.SetWindowText(text);
}

}  // namespace

void CZD_Extract::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_EXTRACT_TEXT, m_text);
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
}

BOOL CZD_Extract::OnInitDialog()
{
    CDialog::OnInitDialog();
    // The shortest period there is: the work starts as soon as the dialog shows.
    SetTimer(m_hWnd, kExtractTimer, USER_TIMER_MINIMUM, nullptr);
    return TRUE;
}

bool CZD_Extract::OnTimer(UINT_PTR timerId)
{
    if (!IsWindowVisible()) return true;
    KillTimer(m_hWnd, timerId);

    m_progress.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    m_progress.SendMessage(PBM_SETPOS, 0);
    g_runningExtract = this;
    g_lastShown = 0;
    m_text.SetWindowText(L"Unpacking...");
    m_working = true;
    if (!m_worker.Start(m_hWnd, &CZD_Extract::Run, this)) Finish(Run(this));
    return true;
}

bool CZD_Extract::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result)
{
    if (message != kWorkEndedMessage) return false;
    Finish(wParam != 0);
    result = 0;
    return true;
}

void CZD_Extract::Finish(bool extracted)
{
    g_runningExtract = nullptr;
    m_working = false;
    if (extracted) OnOK();
    else OnCancel();
}

void CZD_Extract::OnOK()
{
    if (!m_working) CDialog::OnOK();
}

void CZD_Extract::OnCancel()
{
    if (!m_working) CDialog::OnCancel();
}

bool ExtractPayload(SetupContext& ctx, ExtractProgress progress, void (*status)(const wchar_t* text))
{
    BoundedFormat(ctx.payloadFolder, kPathChars, L"%s\\zipdatas", ctx.workFolder);
    // Read from the own image since the start of the run (unless relaunched):
    // unpacked first, then the archive's copy is written while the rest goes
    // on. Before a wizard only its part: the rest and the split follow
    // behind it (StartPayloadRest).
    bool restFollows = false;
    if (ArchiveEntryList* preloaded = ctx.relaunched ? nullptr : TakePreloadedPayload(&restFollows)) {
        if (!UnpackEntries(preloaded, ctx.payloadFolder, progress) || !(restFollows || SplitOwnFile(ctx)))
            return false;
    } else {
        if (!SplitOwnFile(ctx)) return false;
        // A relaunched repair or uninstall unpacks the install folder's backup:
        // only a held copy that matches the installation's digest.
        CheckedBackup backup;
        if (ctx.relaunched && !backup.Take(ctx)) return false;
        if (!(ctx.relaunched || WaitForArchiveCopy()) || !UnpackArchive(ctx.archivePath, ctx.payloadFolder, progress))
            return false;
    }
    if (!LoadPayloadConfig(ctx)) return false;
    // The IME name names the drivers in the system folders and the data
    // folder that an uninstall removes: a plain file name or nothing.
    if (const char* problem =
            formats::config::ImeNameProblem(ctx.productRecord + product_field::kImeName, kImeNameChars)) {
        RunLog(L"The payload's configuration is refused: %hs", problem);
        return false;
    }
    if (ctx.modeCode != 'u' && ctx.modeCode != 'g') {
        if (status) status(L"InstallFonts...");
        // Nobody watches a quiet extraction: its fonts go in meanwhile.
        if (progress) InstallPayloadFonts(ctx);
        else StartPayloadFonts(ctx);
    }
    return true;
}

bool CZD_Extract::Run(void*)
{
    return ExtractPayload(g_setup, &ShowExtractProgress, &ShowExtractStatus);
}
