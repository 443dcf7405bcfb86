// The payload archive: splitting the running executable, loading the ZIP
// entries into memory and writing them below a folder.
#pragma once
#include <windows.h>
#include <cstdint>

#include "base/setup_context.h"
#include "formats/entry_rules.h"
#include "formats/setup_image.h"

constexpr size_t kArchiveNameBytes = formats::entries::kNameBytes;

struct ArchiveEntry {
    char name[kArchiveNameBytes];  // system ANSI code page, zero-terminated
    int32_t size;                  // 0 when reading the entry failed
    BYTE* data;                    // owned by the list
    // The entry could not be read whole: its name did not fit, its content
    // could not be inflated, was short or failed the CRC check, or the
    // archive ended before it. Such an entry is never written.
    bool readFailed;
};

struct ArchiveEntryList {
    int32_t count;
    ArchiveEntry* entries;
};

using ExtractProgress = void (*)(const wchar_t* text, int32_t done, int32_t total);

// The 32-bit LoaderFlags value of a PE32+ image (0 when it cannot be read).
DWORD ReadPayloadOffset(const BYTE* image, DWORD size);

// Where the appended archive lies in a setup image.
struct PayloadPlace {
    DWORD offset = 0;
    DWORD archiveBytes = 0;
    formats::image::SignedLayout layout;
};
// False when the image carries no payload or its signature block is damaged.
bool LocatePayload(const BYTE* image, uint64_t size, PayloadPlace& place);

// Writes size bytes to a new file (or over an old one) with one write and
// returns it open, others allowed to read only; INVALID_HANDLE_VALUE when
// that failed, and nothing is left under path.
HANDLE CreateFileWithBytes(const wchar_t* path, const BYTE* data, DWORD size);

// The plain installer and the archive's copy (see archive_copy.h) into the
// work folder, from the held own file.
bool SplitOwnFile(SetupContext& ctx);
bool UnpackArchive(const wchar_t* archivePath, const wchar_t* destination, ExtractProgress progress);
// Writes the entries below destination and frees the list (null: false).
bool UnpackEntries(ArchiveEntryList* list, const wchar_t* destination, ExtractProgress progress);
ArchiveEntryList* LoadArchiveEntries(const char* archivePath);
ArchiveEntryList* LoadArchiveEntriesW(const wchar_t* archivePath);
// Which entries a load takes: all, or the wizard's first and the rest later.
enum class EntryPart { All, Wizard, Rest };
// The entries the wizard needs before it shows: the configuration, the
// agreement page (License.html, main.chm) and the fonts.
bool IsWizardEntry(const char* name);
// The archive's bytes, which must stay readable until it returns. An entry
// whose name could not be read belongs to the rest.
ArchiveEntryList* LoadArchiveEntriesFrom(const BYTE* archive, size_t size, EntryPart part = EntryPart::All);
void FreeArchiveEntries(ArchiveEntryList* list);
bool WriteArchiveEntry(const ArchiveEntry& entry, const char* destination);
bool WriteArchiveEntryW(const ArchiveEntry& entry, const wchar_t* destination);

// False for a name that would leave the destination folder: a ".." part, a
// drive letter or stream colon, or a leading pair of separators.
bool IsContainedEntryName(const char* name);
