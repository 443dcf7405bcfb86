// The rest of the payload, written behind the wizard: what the wizard needs
// is unpacked by the extraction dialog, everything else on a thread of its
// own while the person reads and chooses. The installation waits for it.
#pragma once
#include "base/setup_context.h"

// When the preload held the rest back: writes it below the payload folder
// (once its reading may begin: LetPreloadRestBegin or FinishPayloadRest),
// splits the own file, then calls `unpacked` (only when all that worked), on
// a thread of its own (or here when none can be had). Otherwise it only
// calls `unpacked`, here.
void StartPayloadRest(SetupContext& ctx, void (*unpacked)());
// Waits for the rest; `shown` (may be null) gets the percentage written at
// most every few tens of milliseconds while it runs. True when it was all
// written and the split done, or when nothing was held back.
bool FinishPayloadRest(void (*shown)(int percent, void* context), void* context);
