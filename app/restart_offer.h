// The end of a run that a restart completes (exit code 3010).
#pragma once

// An interactive run asks the person whether to restart now (a relaunched
// copy leaves that to its starter); quiet and passive runs only log it.
void OfferRestart();
