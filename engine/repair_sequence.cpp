#include "engine/repair_sequence.h"

#include <windows.h>

#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "base/placed_record.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "engine/driver_files.h"
#include "engine/maintenance_lines.h"
#include "engine/progress.h"
#include "engine/registration.h"
#include "engine/shortcuts.h"
#include "engine/user_keyboard_lists.h"
#include "platform/com_apartment.h"

namespace {
bool FailRepair()
{
    ReportProgress(0, maint_text::kRepairFailure);
    ClosePlacedRecord();
    return false;
}
}  // namespace

bool RunRepairSequence()
{
    const ULONGLONG startedAt = GetTickCount64();
    ReportProgress(0, maint_text::kRepairStart);
    ComApartment com;
    if (!com.Ready()) {
        ReportProgress(0, maint_text::kComFailure);
        return false;
    }

    ReportProgress(10, maint_text::kRepairStep1);
    wchar_t userFile[MAX_PATH];
    if (JoinTempPath(L"_temp_userci_.txt", userFile) && userFile[0]) DeleteFileDirectly(userFile);

    ReportProgress(20, maint_text::kRepairStep2);
    OpenPlacedRecord(g_setup.name);
    if (!PlaceImeDriverFiles(g_setup)) return FailRepair();
    // Not placed again, but the installation's all the same (one by an
    // earlier setup has no record of them yet).
    for (const wchar_t* file : {L"%sinstaller.exe", L"%s_backup_.dat"}) {
        wchar_t path[MAX_PATH];
        BoundedFormat(path, MAX_PATH, file, g_setup.installFolder);
        if (PathExists(path)) NotePlaced(path, kPlacedFile, true);
    }

    ReportProgress(40, maint_text::kRepairStep3);
    if (!RegisterInputMethod()) return FailRepair();
    AddKeyboardToUserLists();

    ReportProgress(70, maint_text::kRepairStep4);
    if (!CreateShortcuts()) return FailRepair();
    ClosePlacedRecord();

    ReportProgress(85, maint_text::kRepairStep5);
    HoldUntilReadable(startedAt);

    ReportProgress(100, maint_text::kRepairStep6);
    return true;
}
