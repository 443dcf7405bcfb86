// The install worker: the wizard dialog is its argument. It asks its
// questions with the dialog as owner (they are shown by the dialog's thread)
// and has the dialog's thread switch to the progress view.
#include <windows.h>
#include <commctrl.h>

#include "engine/install_sequence.h"
#include "payload/payload_rest.h"
#include "resources/resource.h"
#include "wizard/install_dialog.h"

namespace {
void ShowProgressViewHere(void* dialog) { static_cast<CinstkitDlg*>(dialog)->ShowProgressView(); }

void ShowWizardProgressView(void* dialog)
{
    RunOnWindowThread(static_cast<CinstkitDlg*>(dialog)->m_hWnd, &ShowProgressViewHere, dialog);
}

void ShowBarHere(void* bar) { ShowWindow(static_cast<HWND>(bar), SW_SHOW); }

// The payload's rest still being written: its progress on the folder page's bar.
void ShowRestWritten(int percent, void* dialog)
{
    HWND wizard = static_cast<CinstkitDlg*>(dialog)->m_hWnd;
    HWND bar = GetDlgItem(wizard, IDC_PROGRESS);
    if (!IsWindowVisible(bar)) RunOnWindowThread(wizard, &ShowBarHere, bar);
    SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}
}  // namespace

bool InstallWorker(void* dialog)
{
    auto* wizard = static_cast<CinstkitDlg*>(dialog);
    // Nothing is asked or changed before the whole payload is there.
    if (!FinishPayloadRest(&ShowRestWritten, wizard)) {
        wizard->m_outcome = static_cast<LONG>(InstallWorkOutcome::PayloadFailed);
        return false;
    }
    InstallWorkerTarget target{wizard->m_hWnd, wizard->m_folderText, &ShowWizardProgressView, wizard};
    InstallWorkOutcome outcome = RunInstallWorker(target);
    wizard->m_outcome = static_cast<LONG>(outcome);
    return outcome == InstallWorkOutcome::Installed;
}
