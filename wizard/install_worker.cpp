// The install worker: the wizard dialog is its argument. It asks its
// questions with the dialog as owner (they are shown by the dialog's thread)
// and has the dialog's thread switch to the progress view.
#include "engine/install_sequence.h"
#include "wizard/install_dialog.h"

namespace {
void ShowProgressViewHere(void* dialog) { static_cast<CinstkitDlg*>(dialog)->ShowProgressView(); }

void ShowWizardProgressView(void* dialog)
{
    RunOnWindowThread(static_cast<CinstkitDlg*>(dialog)->m_hWnd, &ShowProgressViewHere, dialog);
}
}  // namespace

bool InstallWorker(void* dialog)
{
    auto* wizard = static_cast<CinstkitDlg*>(dialog);
    InstallWorkerTarget target{wizard->m_hWnd, wizard->m_folderText, &ShowWizardProgressView, wizard};
    InstallWorkOutcome outcome = RunInstallWorker(target);
    wizard->m_outcome = static_cast<LONG>(outcome);
    return outcome == InstallWorkOutcome::Installed;
}
