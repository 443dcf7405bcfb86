// Thread entry of the install worker: the wizard dialog is its argument.
#include "engine/install_sequence.h"
#include "wizard/install_dialog.h"

namespace {
void RedrawWizardHeader(void* owner) { static_cast<CinstkitDlg*>(owner)->RedrawHeader(); }
}  // namespace

DWORD WINAPI InstallWorker(LPVOID dialog)
{
    auto* wizard = static_cast<CinstkitDlg*>(dialog);
    InstallWorkerTarget target{wizard->m_hWnd, &wizard->m_stage, &wizard->m_busy, &RedrawWizardHeader, wizard};
    return RunInstallWorker(target);
}
