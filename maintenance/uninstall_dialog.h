// The uninstall dialog (141) and its sequence.
#pragma once
#include <cstddef>

#include "maintenance/header_band.h"
#include "resources/resource.h"

bool RunUninstallSequence();
void RemoveProductFiles(const wchar_t* name);
void RemoveProductShortcuts(const wchar_t* displayName);
bool IsEngineFamilyFolderEmpty();

// The companion tool's uninstall command: every "{appPath}\" replaced by the
// install folder, then split at the first " /" into file and parameters.
// False (both emptied) for an empty command.
bool SplitToolUninstallCommand(const wchar_t* command, const wchar_t* installFolder, wchar_t* file,
                               size_t fileCapacity, wchar_t* parameters, size_t parametersCapacity);
// Starts that command hidden through the shell; nothing waits for it.
void RunToolUninstallCommand();

class CCZD_Uninstall : public CMaintenanceDialog {
public:
    CCZD_Uninstall() : CMaintenanceDialog(141) {}
protected:
    BOOL OnInitDialog() override;
    int HeaderIcon() const override { return IDI_UNINSTALL; }
    void FormatHeaderLine(wchar_t* out) const override;
    const wchar_t* ActionText() const override;
    SequenceFunction Sequence() const override { return &RunUninstallSequence; }
};
