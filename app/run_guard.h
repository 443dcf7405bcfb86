// The machine-wide guard that lets one install, repair or uninstall of the
// product family run at a time.
#pragma once

// True when this process now holds the guard (also when a run that held it
// died without letting it go). Held until the process ends.
bool AcquireRunGuard();
