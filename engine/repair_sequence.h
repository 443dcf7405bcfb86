// The repair: the payload placed, registered and linked again, in six
// numbered steps.
#pragma once

// True when all six steps succeeded. Reports through ReportProgress.
bool RunRepairSequence();
