// The appended payload archive: the split of the running executable into the
// plain installer and the archive, and the unpacking of the archive.
#include "payload/archive.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "base/bounded_string.h"
#include "base/shared_routines.h"
// unzip.h first: iowin32.h relies on what it includes.
#include "unzip.h"
#include "iowin32.h"
#include "formats/entry_rules.h"
#include "formats/setup_image.h"
#include "payload/archive_copy.h"
#include "payload/entry_decode.h"
#include "payload/own_image.h"
#include "payload/worker_threads.h"
#include "payload/zip_memory.h"
#include "payload/zip_read_buffer.h"

namespace {

// Reads the name and size of the entry at the archive's current position;
// false (and the entry failed) when it cannot be read whole. The sizes of the
// entries before it are counted in totalSoFar.
bool ReadEntryInfo(unzFile zip, ArchiveEntry& entry, DWORD& size, uint64_t& totalSoFar)
{
    unz_file_info64 info{};
    char name[kArchiveNameBytes] = {};
    entry.readFailed = true;
    if (unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0) != UNZ_OK) return false;
    BoundedCopy(entry.name, kArchiveNameBytes, name);
    // A cut name would be written under a name the archive does not hold.
    if (info.size_filename >= kArchiveNameBytes) return false;
    if (!formats::entries::SizeFits(info.uncompressed_size, totalSoFar)) return false;
    size = static_cast<DWORD>(info.uncompressed_size);
    totalSoFar += size;
    entry.readFailed = false;
    return true;
}

// Minizip's own reading, for an archive read from a file.
bool ReadThroughMinizip(unzFile zip, BYTE* data, DWORD size)
{
    if (unzOpenCurrentFile(zip) != UNZ_OK) return false;
    int got = size > 0 ? unzReadCurrentFile(zip, data, size) : 0;
    // Closing the entry after a full read is where the CRC is compared.
    int closed = unzCloseCurrentFile(zip);
    return got >= 0 && static_cast<DWORD>(got) == size && closed == UNZ_OK;
}

// Inflates the entry at the archive's current position, `size` bytes; from
// `bytes` in place when the archive is read from memory.
void ReadEntryData(unzFile zip, const MemoryFile* bytes, ArchiveEntry& entry, DWORD size)
{
    entry.readFailed = true;
    BYTE* data = nullptr;
    if (size > 0) {
        data = static_cast<BYTE*>(std::malloc(size));
        if (!data) return;
    }
    if (!(bytes ? DecodeEntryInPlace(zip, *bytes, data, size) : ReadThroughMinizip(zip, data, size))) {
        std::free(data);
        return;
    }
    entry.data = data;
    entry.size = static_cast<int32_t>(size);
    entry.readFailed = false;
}

// `madeFolder` (MAX_PATH characters, or none) is the parent made for the
// writer's previous file: entries come folder by folder, and each creation
// attempt costs a call into the system per ancestor.
bool CreateParentFolders(const wchar_t* path, wchar_t* madeFolder)
{
    wchar_t parent[MAX_PATH];
    BoundedCopy(parent, MAX_PATH, path);
    wchar_t* last = wcsrchr(parent, L'\\');
    if (!last) return false;
    *last = L'\0';
    if (madeFolder && wcscmp(parent, madeFolder) == 0) return true;
    if (madeFolder) BoundedCopy(madeFolder, MAX_PATH, parent);
    // Mostly only the last folder is new; the ancestors only when it cannot be made.
    if (!parent[0] || CreateDirectoryW(parent, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return true;
    for (wchar_t* p = parent; *p; ++p) {
        if (*p != L'\\') continue;
        *p = L'\0';
        if (parent[0]) CreateDirectoryW(parent, nullptr);
        *p = L'\\';
    }
    if (parent[0]) CreateDirectoryW(parent, nullptr);
    return true;
}

}  // namespace

DWORD ReadPayloadOffset(const BYTE* image, DWORD size)
{
    return formats::image::ReadPayloadOffset(formats::ByteSpan{image, size});
}

bool IsContainedEntryName(const char* name) { return formats::entries::IsContainedEntryName(name); }

HANDLE CreateFileWithBytes(const wchar_t* path, const BYTE* data, DWORD size)
{
    // One write from memory: a mapped view costs a mapping, a flush and a
    // page fault per page, which Wine makes dear.
    HANDLE file = CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    DWORD written = 0;
    if (size == 0 || (WriteFile(file, data, size, &written, nullptr) && written == size)) return file;
    // A short file must not pass for the whole.
    DWORD error = GetLastError();
    CloseHandle(file);
    DeleteFileW(path);
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

bool LocatePayload(const BYTE* image, uint64_t size, PayloadPlace& place)
{
    // The real length, also for the fallback copy with its 10 extra bytes.
    if (size > formats::image::kMaxBytes) return false;
    DWORD length = static_cast<DWORD>(size);
    place.offset = ReadPayloadOffset(image, length);
    if (place.offset == 0 || place.offset >= length ||
        !formats::image::ReadSignedLayout(formats::ByteSpan{image, length}, place.offset, place.layout))
        return false;
    // The archive stops where the payload ends, before any signature.
    if (place.layout.payloadEnd <= place.offset) return false;
    place.archiveBytes = place.layout.payloadEnd - place.offset;
    return true;
}

bool SplitOwnFile(SetupContext& ctx)
{
    if (ctx.relaunched) return true;

    // Only through the file held since the start: the path may name another
    // file by now.
    HANDLE held = HeldOwnFile();
    MappedFile* own = nullptr;
    LARGE_INTEGER length{};
    if (!held || !GetFileSizeEx(held, &length) || !MapOpenFile(held, &own) || !own)
        return PathExists(ctx.archivePath);

    PayloadPlace place;
    if (!LocatePayload(own->data, static_cast<uint64_t>(length.QuadPart), place)) {
        CloseMappedFile(own, 0);
        return false;
    }
    const DWORD offset = place.offset;
    const formats::image::SignedLayout& layout = place.layout;

    BoundedFormat(ctx.plainInstallerPath, kPathChars, L"%s\\installer.exe", ctx.workFolder);
    MappedFile* plain = nullptr;
    if (!CreateMappedFile(ctx.plainInstallerPath, offset, &plain) || !plain) {
        CloseMappedFile(own, 0);
        return false;
    }
    std::memcpy(plain->data, own->data, offset);
    formats::image::RestorePlainHeader(plain->data, offset, layout);
    CloseMappedFile(plain, 1);

    BoundedFormat(ctx.archivePath, kPathChars, L"%s\\makedata.zip", ctx.workFolder);
    // Written meanwhile; the view goes with it.
    return StartArchiveCopy(own, offset, place.archiveBytes, ctx.archivePath);
}

namespace {

// Where the directory walk found an entry, and its size.
struct EntryPlace {
    ZPOS64_T directoryOffset;
    DWORD size;
};

// The entries are inflated in turns by a few workers, each through an archive
// handle of its own.
struct InflateRun {
    const void* archivePath;
    zlib_filefunc64_def* functions;
    const MemoryFile* bytes;  // the archive, when read from memory
    ArchiveEntry* entries;
    const EntryPlace* places;
    int32_t count;
    volatile LONG next;
};

void InflateTakenEntries(InflateRun& run, unzFile zip)
{
    for (;;) {
        LONG i = InterlockedIncrement(&run.next) - 1;
        if (i >= run.count) return;
        ArchiveEntry& entry = run.entries[i];
        if (entry.readFailed) continue;
        if (unzSetOffset64(zip, run.places[i].directoryOffset) != UNZ_OK) {
            entry.readFailed = true;
            continue;
        }
        ReadEntryData(zip, run.bytes, entry, run.places[i].size);
    }
}

DWORD WINAPI InflateWorker(void* context)
{
    auto& run = *static_cast<InflateRun*>(context);
    // A worker that cannot open the archive leaves its turns to the others.
    unzFile zip = unzOpen2_64(run.archivePath, run.functions);
    if (!zip) return 0;
    InflateTakenEntries(run, zip);
    unzClose(zip);
    return 0;
}

bool InPart(EntryPart part, const ArchiveEntry& entry)
{
    if (part == EntryPart::All) return true;
    return IsWizardEntry(entry.name) == (part == EntryPart::Wizard);
}

ArchiveEntryList* LoadEntriesWith(const void* archivePath, zlib_filefunc64_def& functions, const MemoryFile* bytes,
                                  EntryPart part = EntryPart::All)
{
    unzFile zip = unzOpen2_64(archivePath, &functions);
    if (!zip) return nullptr;

    unz_global_info64 global{};
    if (unzGetGlobalInfo64(zip, &global) != UNZ_OK || global.number_entry > formats::entries::kMaxEntries) {
        unzClose(zip);
        return nullptr;
    }
    auto* list = static_cast<ArchiveEntryList*>(std::calloc(1, sizeof(ArchiveEntryList)));
    int32_t n = static_cast<int32_t>(global.number_entry);
    ArchiveEntry* entries = n > 0 ? static_cast<ArchiveEntry*>(std::calloc(n, sizeof(ArchiveEntry))) : nullptr;
    EntryPlace* places = n > 0 ? static_cast<EntryPlace*>(std::calloc(n, sizeof(EntryPlace))) : nullptr;
    if (!list || (n > 0 && (!entries || !places))) {
        std::free(list);
        std::free(entries);
        std::free(places);
        unzClose(zip);
        return nullptr;
    }
    list->entries = entries;

    // The directory first, in order; then the content, on every processor.
    // The sizes count over the whole archive, whichever part is taken.
    uint64_t total = 0;
    int32_t readable = 0, taken = 0;
    bool positioned = n > 0 && unzGoToFirstFile(zip) == UNZ_OK;
    for (int32_t i = 0; i < n; ++i) {
        ArchiveEntry& entry = entries[taken];
        // Entries behind a failed move were never read: they fail, and so the
        // extraction does.
        if (!positioned) {
            entry.readFailed = true;
        } else if (ReadEntryInfo(zip, entry, places[taken].size, total)) {
            places[taken].directoryOffset = unzGetOffset64(zip);
            if (InPart(part, entry)) ++readable;
        }
        if (InPart(part, entry)) ++taken;
        else entry = ArchiveEntry{};
        if (positioned && i + 1 < n) positioned = unzGoToNextFile(zip) == UNZ_OK;
    }
    list->count = taken;
    InflateRun run{archivePath, &functions, bytes, entries, places, taken, 0};
    WorkerThreads helpers;
    StartWorkerThreads(helpers, UsefulThreadCount(readable) - 1, InflateWorker, &run);
    InflateTakenEntries(run, zip);
    JoinWorkerThreads(helpers);
    std::free(places);
    unzCloseCurrentFile(zip);
    unzClose(zip);
    return list;
}

}  // namespace

ArchiveEntryList* LoadArchiveEntries(const char* archivePath)
{
    if (!archivePath || !archivePath[0]) return nullptr;
    // The A variant opens with CreateFileA: fill_win32_filefunc would pass the
    // narrow path to CreateFileW in this UNICODE build.
    zlib_filefunc64_def win32, functions;
    fill_win32_filefunc64A(&win32);
    FillBufferedFileFunctions(&functions, &win32);
    return LoadEntriesWith(archivePath, functions, nullptr);
}

ArchiveEntryList* LoadArchiveEntriesW(const wchar_t* archivePath)
{
    if (!archivePath || !archivePath[0]) return nullptr;
    zlib_filefunc64_def win32, functions;
    fill_win32_filefunc64W(&win32);
    FillBufferedFileFunctions(&functions, &win32);
    return LoadEntriesWith(archivePath, functions, nullptr);
}

ArchiveEntryList* LoadArchiveEntriesFrom(const BYTE* archive, size_t size, EntryPart part)
{
    if (!archive || size == 0) return nullptr;
    MemoryFile bytes{archive, size};
    zlib_filefunc64_def functions;
    FillMemoryFileFunctions(&functions, &bytes);
    // The name is never used: each opening reads the same bytes.
    return LoadEntriesWith(&bytes, functions, &bytes, part);
}

bool IsWizardEntry(const char* name)
{
    while (*name == '\\') ++name;
    if (_strnicmp(name, "$fonts$\\", 8) == 0) return true;
    static const char* const kPages[] = {"$dataFiles$\\config.dsc", "License.html", "main.chm"};
    for (const char* page : kPages)
        if (_stricmp(name, page) == 0) return true;
    return false;
}

void FreeArchiveEntries(ArchiveEntryList* list)
{
    if (!list) return;
    for (int32_t i = 0; i < list->count; ++i) std::free(list->entries[i].data);
    std::free(list->entries);
    std::free(list);
}

namespace {

bool WriteEntryFile(const ArchiveEntry& entry, const wchar_t* destination, wchar_t* madeFolder)
{
    if (!destination || !destination[0] || entry.readFailed) return false;
    if (!IsContainedEntryName(entry.name)) return false;
    wchar_t name[kArchiveNameBytes + 1];
    int converted = MultiByteToWideChar(CP_ACP, 0, entry.name, -1, name, kArchiveNameBytes + 1);
    if (converted <= 0) return false;
    size_t destLength = wcslen(destination);
    bool endsWithBackslash = destination[destLength - 1] == L'\\';
    wchar_t path[MAX_PATH];
    size_t length = BoundedFormat(path, MAX_PATH, endsWithBackslash ? L"%s%s" : L"%s\\%s", destination, name);
    // A cut path would name some other file.
    if (length != destLength + wcslen(name) + (endsWithBackslash ? 0 : 1)) return false;
    if (!CreateParentFolders(path, madeFolder)) return false;

    HANDLE file = CreateFileWithBytes(path, entry.data, entry.size > 0 ? static_cast<DWORD>(entry.size) : 0);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

}  // namespace

bool WriteArchiveEntryW(const ArchiveEntry& entry, const wchar_t* destination)
{
    return WriteEntryFile(entry, destination, nullptr);
}

bool WriteArchiveEntry(const ArchiveEntry& entry, const char* destination)
{
    if (!destination || !destination[0]) return false;
    wchar_t wide[MAX_PATH];
    if (MultiByteToWideChar(CP_ACP, 0, destination, -1, wide, MAX_PATH) <= 0) return false;
    return WriteArchiveEntryW(entry, wide);
}

namespace {

// The files are written by a few workers while the caller reports them in
// entry order.
struct WriteRun {
    const ArchiveEntryList* list;
    const wchar_t* destination;
    volatile LONG* outcomes;  // 0 not yet, 1 written, 2 not written
    HANDLE settled;           // set after each outcome, when someone reports them
    volatile LONG next;
};

DWORD WINAPI WriteWorker(void* context)
{
    auto& run = *static_cast<WriteRun*>(context);
    wchar_t madeFolder[MAX_PATH] = L"";
    for (;;) {
        LONG i = InterlockedIncrement(&run.next) - 1;
        if (i >= run.list->count) return 0;
        const ArchiveEntry& entry = run.list->entries[i];
        // A folder entry fails to become a file but is still there: empty
        // entries count as written, unless unreadable or outside the folder.
        bool ok = !entry.readFailed && IsContainedEntryName(entry.name) &&
                  (WriteEntryFile(entry, run.destination, madeFolder) || entry.size == 0);
        InterlockedExchange(&run.outcomes[i], ok ? 1 : 2);
        if (run.settled) SetEvent(run.settled);
    }
}

}  // namespace

bool UnpackArchive(const wchar_t* archivePath, const wchar_t* destination, ExtractProgress progress)
{
    // Paths stay wide: a folder name outside the ANSI code page (a Uyghur
    // install folder holding the backup) must still open. Entry names are
    // the archive's own ANSI names.
    return UnpackEntries(LoadArchiveEntriesW(archivePath), destination, progress);
}

bool UnpackEntries(ArchiveEntryList* list, const wchar_t* destination, ExtractProgress progress)
{
    if (!list) return false;
    if (!destination || !destination[0]) {
        FreeArchiveEntries(list);
        return false;
    }

    int64_t total = 0;
    for (int32_t i = 0; i < list->count; ++i) total += list->entries[i].size;
    auto* outcomes = static_cast<LONG*>(std::calloc(list->count > 0 ? list->count : 1, sizeof(LONG)));
    // Each event call is a round trip into the system (Wine's server): only
    // a caller that reports every entry in turn waits for them one by one.
    HANDLE settled = progress ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr;
    if (!outcomes || (progress && !settled)) {
        std::free(outcomes);
        if (settled) CloseHandle(settled);
        FreeArchiveEntries(list);
        return false;
    }
    WriteRun run{list, destination, outcomes, settled, 0};
    WorkerThreads writers;
    int threads = UsefulThreadCount(list->count);
    if (!progress) {
        StartWorkerThreads(writers, threads - 1, WriteWorker, &run);
        WriteWorker(&run);
        JoinWorkerThreads(writers);
    } else if (StartWorkerThreads(writers, threads, WriteWorker, &run) == 0) {
        // Without a thread to hand the work to, the caller writes every file first.
        WriteWorker(&run);
    }

    int64_t done = 0;
    int32_t written = 0;
    wchar_t text[128];
    wchar_t wideName[kArchiveNameBytes + 1];
    for (int32_t i = 0; i < list->count; ++i) {
        const ArchiveEntry& entry = list->entries[i];
        while (InterlockedCompareExchange(&outcomes[i], 0, 0) == 0) WaitForSingleObject(settled, INFINITE);
        bool ok = outcomes[i] == 1;
        wideName[0] = L'\0';
        int converted = MultiByteToWideChar(CP_ACP, 0, entry.name, -1, wideName, kArchiveNameBytes + 1);
        if (converted <= 0) wideName[0] = L'\0';
        if (ok) {
            ++written;
            if (progress) {
                done += entry.size;
                BoundedFormat(text, 128, L"Success: %s", wideName);
                progress(text, static_cast<int32_t>(done), static_cast<int32_t>(total));
            }
        } else if (progress) {
            BoundedFormat(text, 128, L"Failure: %s", wideName);
            progress(text, 0, 0);
        }
    }
    JoinWorkerThreads(writers);
    if (settled) CloseHandle(settled);
    std::free(outcomes);
    if (progress) progress(L"Completed.", static_cast<int32_t>(total), static_cast<int32_t>(total));
    bool complete = written == list->count;
    FreeArchiveEntries(list);
    return complete;
}
