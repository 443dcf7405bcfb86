// The repair dialog (140): shows the repair sequence at work.
#pragma once
#include "engine/repair_sequence.h"
#include "maintenance/maintenance_dialog.h"
#include "resources/resource.h"

// How the dialog ends the process when the backup archive is missing. The
// standard exit by default; a test puts its own function here (when that
// returns, the dialog closes instead).
using ProcessExitFunction = void (*)(int exitCode);
void SetRepairExitFunction(ProcessExitFunction exitFunction);

class CZD_Repair : public CMaintenanceDialog {
public:
    CZD_Repair() : CMaintenanceDialog(140) {}
protected:
    BOOL OnInitDialog() override;
    int HeaderIcon() const override { return IDI_REPAIR; }
    void FormatHeaderLine(wchar_t* out) const override;
    const wchar_t* ActionText() const override;
    SequenceFunction Sequence() const override { return &RunRepairSequence; }
};
