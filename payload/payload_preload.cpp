#include "payload/payload_preload.h"

#include "base/shared_routines.h"
#include "payload/own_image.h"
#include "payload/worker_threads.h"

namespace {

WorkerThreads g_reader{};
ArchiveEntryList* g_entries = nullptr;  // all, or the wizard's part
ArchiveEntryList* g_rest = nullptr;
HANDLE g_firstRead = nullptr;           // set once g_entries is read, in two parts only
HANDLE g_restMayBegin = nullptr;        // in two parts only
bool g_twoParts = false;
bool g_restPending = false;

void ReadParts(HANDLE held)
{
    LARGE_INTEGER length{};
    MappedFile* own = nullptr;
    if (!GetFileSizeEx(held, &length) || !MapOpenFile(held, &own) || !own) return;
    PayloadPlace place;
    if (LocatePayload(own->data, static_cast<uint64_t>(length.QuadPart), place)) {
        const BYTE* archive = own->data + place.offset;
        g_entries = LoadArchiveEntriesFrom(archive, place.archiveBytes, g_twoParts ? EntryPart::Wizard : EntryPart::All);
        if (g_twoParts && g_entries) {
            SetEvent(g_firstRead);
            WaitForSingleObject(g_restMayBegin, INFINITE);
            g_rest = LoadArchiveEntriesFrom(archive, place.archiveBytes, EntryPart::Rest);
        }
    }
    CloseMappedFile(own, 0);
}

// Only through the held file, as the split reads it: both see the same bytes.
DWORD WINAPI ReadPayload(void* file)
{
    ReadParts(static_cast<HANDLE>(file));
    if (g_firstRead) SetEvent(g_firstRead);
    return 0;
}

}  // namespace

void StartPayloadPreload(bool wizardFirst)
{
    HANDLE held = HeldOwnFile();
    if (!held || g_reader.count > 0) return;
    if (wizardFirst && !g_firstRead) g_firstRead = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (wizardFirst && !g_restMayBegin) g_restMayBegin = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_twoParts = wizardFirst && g_firstRead && g_restMayBegin;
    // Without the thread the unpacking reads the archive as before.
    StartWorkerThreads(g_reader, 1, ReadPayload, held);
}

ArchiveEntryList* TakePreloadedPayload(bool* restFollows)
{
    const bool twoParts = g_twoParts && g_reader.count > 0;
    if (twoParts) WaitForSingleObject(g_firstRead, INFINITE);
    else JoinWorkerThreads(g_reader);
    ArchiveEntryList* entries = g_entries;
    g_entries = nullptr;
    g_restPending = twoParts && entries;
    if (restFollows) *restFollows = g_restPending;
    return entries;
}

void LetPreloadRestBegin()
{
    if (g_restMayBegin) SetEvent(g_restMayBegin);
}

bool PreloadedRestPending() { return g_restPending; }

ArchiveEntryList* TakePreloadedRest()
{
    g_restPending = false;
    JoinWorkerThreads(g_reader);
    ArchiveEntryList* rest = g_rest;
    g_rest = nullptr;
    return rest;
}

void DiscardPreloadedPayload()
{
    LetPreloadRestBegin();
    JoinWorkerThreads(g_reader);
    FreeArchiveEntries(g_entries);
    FreeArchiveEntries(g_rest);
    g_entries = g_rest = nullptr;
}
