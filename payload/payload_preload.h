// The payload of the setup's own image, read into memory on a thread of its
// own while the installation's checks go on (the command line, the run guard,
// the work folder): the unpacking then only writes.
#pragma once
#include "payload/archive.h"

// Starts reading the held own file's archive; nothing when no file is held.
void StartPayloadPreload();
// Waits for the reading and hands its entries over (the caller frees them);
// null when none was started or the archive could not be read, and the
// caller reads the archive itself.
ArchiveEntryList* TakePreloadedPayload();
// Waits for the reading and frees what it read: a run that unpacks nothing.
void DiscardPreloadedPayload();
