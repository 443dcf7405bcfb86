// The work folder: a folder of this run's own below the machine's temporary
// folder (<Windows>\Temp\ZerdaIME3.<unique>), made new with an access list
// for SYSTEM and the Administrators only and held open without delete
// sharing until the run removes it. No other program can rename, replace or
// redirect it, nor put anything into it; two runs never share one. Folders
// that ended runs left there go first.
#pragma once
#include "base/setup_context.h"

bool PrepareWorkFolder(SetupContext& ctx);
// Lets the folder go and removes it with everything in it; what is still
// in use goes at the next restart.
void RemoveWorkFolder(SetupContext& ctx);
