#include "maintenance/repair_dialog.h"

#include <windows.h>
#include <objbase.h>

#include <cstdlib>
#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_options.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "engine/driver_files.h"
#include "engine/progress.h"
#include "engine/registration.h"
#include "engine/shortcuts.h"
#include "engine/user_keyboard_lists.h"
#include "files/in_use.h"
#include "maintenance/header_band.h"
#include "maintenance/maintenance_texts.h"
#include "platform/prompt.h"
#include "resources/resource.h"

namespace {
void StandardExit(int exitCode) { std::exit(exitCode); }
ProcessExitFunction g_exitFunction = &StandardExit;

bool FailRepair()
{
    ReportProgress(0, maint_text::kRepairFailure);
    return false;
}
}  // namespace

void SetRepairExitFunction(ProcessExitFunction exitFunction)
{
    g_exitFunction = exitFunction ? exitFunction : &StandardExit;
}

bool RunRepairSequence()
{
    ReportProgress(0, maint_text::kRepairStart);
    if (FAILED(CoInitialize(nullptr))) {
        ReportProgress(0, maint_text::kComFailure);
        return false;
    }

    ReportProgress(10, maint_text::kRepairStep1);
    wchar_t userFile[MAX_PATH];
    if (JoinTempPath(L"_temp_userci_.txt", userFile) && userFile[0]) DeleteFileW(userFile);

    ReportProgress(20, maint_text::kRepairStep2);
    if (!PlaceImeDriverFiles(g_setup)) return FailRepair();

    ReportProgress(40, maint_text::kRepairStep3);
    if (!RegisterInputMethod()) return FailRepair();
    AddKeyboardToUserLists();

    ReportProgress(70, maint_text::kRepairStep4);
    if (!CreateShortcuts()) return FailRepair();

    ReportProgress(85, maint_text::kRepairStep5);
    Sleep(100);

    ReportProgress(100, maint_text::kRepairStep6);
    return true;
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
