// The end of a run that a restart completes (exit code 3010).
#pragma once

// An interactive run asks the person whether to restart now; quiet and
// passive runs show nothing and only log it.
void OfferRestart();
