// The work folder <temp>\$zerdaInstaller$: removed and made anew at start;
// a folder that cannot be removed means another instance runs.
#pragma once
#include "base/setup_context.h"

bool PrepareWorkFolder(SetupContext& ctx);
