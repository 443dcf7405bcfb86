#include "maintenance/repair_dialog.h"

#include <windows.h>

#include <cstdlib>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "maintenance/maintenance_dialog.h"
#include "maintenance/maintenance_texts.h"
#include "platform/prompt.h"
#include "resources/resource.h"

namespace {
void StandardExit(int exitCode) { std::exit(exitCode); }
ProcessExitFunction g_exitFunction = &StandardExit;
}  // namespace

void SetRepairExitFunction(ProcessExitFunction exitFunction)
{
    g_exitFunction = exitFunction ? exitFunction : &StandardExit;
}

BOOL CZD_Repair::OnInitDialog()
{
    CDialog::OnInitDialog();
    ShowIcons();

    wchar_t backup[MAX_PATH];
    BoundedFormat(backup, MAX_PATH, L"%s_backup_.dat", g_setup.installFolder);
    HANDLE file = CreateFileW(backup, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        m_action.SetWindowText(maint_text::kRepairFinishButton);
        ShowMessageBox(m_hWnd, maint_text::kRepairMissingBackupText, maint_text::kRepairMissingBackupCaption,
                       MB_OK | MB_ICONERROR);
        g_exitFunction(1);
        // Only reached when the exit was replaced.
        EndDialog(IDABORT);
        return TRUE;
    }
    CloseHandle(file);

    CompleteInit(maint_text::kRepairTitleSuffix, maint_text::kRepairButton);
    return TRUE;
}

const wchar_t* CZD_Repair::ActionText() const { return maint_text::kRepairButton; }

void CZD_Repair::FormatHeaderLine(wchar_t* out) const
{
    if (m_state == 0) BoundedCopy(out, MAX_PATH, maint_text::kRepairHeaderReady);
    else if (m_state == 1) BoundedFormat(out, MAX_PATH, maint_text::kRepairHeaderRunning, DisplayName(g_setup));
    else BoundedCopy(out, MAX_PATH, maint_text::kRepairHeaderDone);
}
