// The uninstall dialog (141): shows the uninstall sequence at work.
#pragma once
#include "engine/uninstall_sequence.h"
#include "maintenance/maintenance_dialog.h"
#include "resources/resource.h"

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
