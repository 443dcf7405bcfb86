// Step 1 of the installation: drivers into the system folders, the payload
// into the Windows, data and install folders.
#pragma once
#include "base/setup_context.h"

bool PlaceImeDriverFiles(SetupContext& ctx);
