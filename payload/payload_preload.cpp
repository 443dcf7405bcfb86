#include "payload/payload_preload.h"

#include "base/shared_routines.h"
#include "payload/own_image.h"
#include "payload/worker_threads.h"

namespace {

WorkerThreads g_reader{};
ArchiveEntryList* g_entries = nullptr;

// Only through the held file, as the split reads it: both see the same bytes.
DWORD WINAPI ReadPayload(void* file)
{
    HANDLE held = static_cast<HANDLE>(file);
    LARGE_INTEGER length{};
    MappedFile* own = nullptr;
    if (!GetFileSizeEx(held, &length) || !MapOpenFile(held, &own) || !own) return 0;
    PayloadPlace place;
    if (LocatePayload(own->data, static_cast<uint64_t>(length.QuadPart), place))
        g_entries = LoadArchiveEntriesFrom(own->data + place.offset, place.archiveBytes);
    CloseMappedFile(own, 0);
    return 0;
}

}  // namespace

void StartPayloadPreload()
{
    HANDLE held = HeldOwnFile();
    if (!held || g_reader.count > 0) return;
    // Without the thread the unpacking reads the archive as before.
    StartWorkerThreads(g_reader, 1, ReadPayload, held);
}

ArchiveEntryList* TakePreloadedPayload()
{
    JoinWorkerThreads(g_reader);
    ArchiveEntryList* entries = g_entries;
    g_entries = nullptr;
    return entries;
}

void DiscardPreloadedPayload() { FreeArchiveEntries(TakePreloadedPayload()); }
