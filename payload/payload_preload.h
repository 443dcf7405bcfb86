// The payload of the setup's own image, read into memory on a thread of its
// own while the installation's checks go on (the command line, the run guard,
// the work folder): the unpacking then only writes. A run with a wizard reads
// the wizard's entries first, and the rest after them.
#pragma once
#include "payload/archive.h"

// Starts reading the held own file's archive; nothing when no file is held.
void StartPayloadPreload(bool wizardFirst = false);
// Waits for the first part (all of it, unless read wizard first) and hands
// its entries over (the caller frees them); null when none was started or
// the archive could not be read, and the caller reads the archive itself.
// `restFollows` tells whether the rest is still to be taken.
ArchiveEntryList* TakePreloadedPayload(bool* restFollows = nullptr);
// Lets the reading of the rest begin: once the wizard shows, so that it
// takes nothing from the wizard's start (discarding the rest lets it begin).
void LetPreloadRestBegin();
// True from the hand-over of the wizard's part until the rest is taken.
bool PreloadedRestPending();
// Waits for the reading and hands the rest over, once it may begin; null
// when it could not be read.
ArchiveEntryList* TakePreloadedRest();
// Waits for the reading and frees what it read: a run that unpacks nothing.
void DiscardPreloadedPayload();
