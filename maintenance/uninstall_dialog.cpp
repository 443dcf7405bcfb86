#include "maintenance/uninstall_dialog.h"

#include <windows.h>

#include "base/bounded_string.h"
#include "base/setup_context.h"
#include "maintenance/maintenance_dialog.h"
#include "maintenance/maintenance_texts.h"
#include "resources/resource.h"

BOOL CCZD_Uninstall::OnInitDialog()
{
    CDialog::OnInitDialog();
    ShowIcons();
    CompleteInit(maint_text::kUninstallTitleSuffix, maint_text::kUninstallButton);
    return TRUE;
}

const wchar_t* CCZD_Uninstall::ActionText() const { return maint_text::kUninstallButton; }

void CCZD_Uninstall::FormatHeaderLine(wchar_t* out) const
{
    if (m_state == 2) BoundedCopy(out, MAX_PATH, maint_text::kUninstallHeaderDone);
    else BoundedFormat(out, MAX_PATH, maint_text::kUninstallHeaderReady, DisplayName(g_setup));
}
