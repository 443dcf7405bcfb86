#include "engine/placed_removal.h"

#include <cwchar>

#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "base/run_log.h"
#include "base/shared_routines.h"
#include "files/folder_guard.h"
#include "files/folder_listing.h"
#include "files/held_file.h"

namespace {

bool SamePath(const wchar_t* a, const wchar_t* b) { return CompareStringOrdinal(a, -1, b, -1, TRUE) == CSTR_EQUAL; }

// path is folder (ending with a backslash) or lies below it.
bool LiesAtOrBelow(const wchar_t* path, const wchar_t* folder)
{
    size_t n = wcslen(folder);
    return n > 3 && folder[n - 1] == L'\\' && wcslen(path) >= n &&
           CompareStringOrdinal(path, static_cast<int>(n), folder, static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

// What a held file of the record became: "<path>.<8 hex digits>.old", gone at the next restart.
bool IsPendingRemoval(const std::vector<PlacedItem>& items, const wchar_t* path)
{
    const size_t kSuffix = 13;
    size_t n = wcslen(path);
    if (n <= kSuffix || !EqualsIgnoreAsciiCase(path + n - 4, L".old")) return false;
    wchar_t held[MAX_PATH];
    BoundedCopyN(held, MAX_PATH, path, n - kSuffix);
    return RecordNames(items, held);
}

// The payload's names as an earlier setup placed them in the install folder:
// the data files, the Windows folder's files and the fonts went elsewhere,
// and so did the drivers (at the top and in its x86 folder).
void AddPayloadNames(const wchar_t* source, const wchar_t* destination, bool top, bool driverHere,
                     std::vector<PlacedItem>& items)
{
    ForEachChild(source, [&](const wchar_t* path, DWORD attributes) {
        const wchar_t* name = wcsrchr(path, L'\\') + 1;
        const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder ? top && name[0] == L'$' : driverHere && EqualsIgnoreAsciiCase(name, L"zerdaIME.ime")) return true;
        items.push_back(MakePlacedItem(destination, name, folder ? kPlacedFolder : kPlacedFile));
        if (folder && items.back().path[0])
            AddPayloadNames(path, items.back().path, false, top && EqualsIgnoreAsciiCase(name, L"x86"), items);
        return true;
    });
}

}  // namespace

bool LoadRemovalRecord(const wchar_t* name, const wchar_t* installFolder, const wchar_t* payloadFolder,
                       std::vector<PlacedItem>& items)
{
    if (ReadPlacedRecord(name, items)) return true;
    RunLog(L"The product has no record of what was placed (an installation by an earlier setup): "
           L"only the files every installation places and the payload's names are removed from the install folder");
    if (!installFolder || !installFolder[0]) return false;
    items.push_back(MakePlacedItem(installFolder, L"", kPlacedFolder));
    for (const wchar_t* file : {L"installer.exe", L"_backup_.dat", L"config.exe", L"main.chm"})
        items.push_back(MakePlacedItem(installFolder, file, kPlacedFile));
    if (payloadFolder && payloadFolder[0] && FolderExists(payloadFolder))
        AddPayloadNames(payloadFolder, items.front().path, true, true, items);
    return false;
}

bool RecordNames(const std::vector<PlacedItem>& items, const wchar_t* path)
{
    for (const PlacedItem& item : items)
        if (SamePath(item.path, path)) return true;
    return false;
}

bool RemovePlacedFile(const wchar_t* path, int modules32)
{
    if (DeleteFileDirectly(path)) {
        RunLog(L"Removed: %s", path);
        return true;
    }
    if (GetLastError() == ERROR_STOPPED_ON_SYMLINK) {
        RunLogFailure(L"Not removed (reached through a link)", path, ERROR_STOPPED_ON_SYMLINK);
        return false;
    }
    // Missing, or held by a program: as any file of the setup's.
    return RemoveFileOrSchedule(path, modules32);
}

void RemoveFolderWhenEmpty(const wchar_t* folder, const std::vector<PlacedItem>& items)
{
    wchar_t path[MAX_PATH];
    BoundedCopy(path, MAX_PATH, folder);
    size_t n = wcslen(path);
    while (n > 3 && path[n - 1] == L'\\') path[--n] = L'\0';
    // The family's folder is guarded as no install folder; empty, it is nobody's.
    wchar_t family[MAX_PATH];
    if (!FolderExists(path) || (IsGuardedFolder(path) && !(FamilyDataFolder(family) && IsSameFolder(path, family))))
        return;
    if (RemoveDirectoryW(path)) {
        RunLog(L"Removed: %s\\", path);
        return;
    }
    DWORD error = GetLastError();
    bool othersLeft = false, pendingLeft = false;
    bool listed = ForEachChild(path, [&](const wchar_t* child, DWORD attributes) {
        wchar_t entry[MAX_PATH];
        BoundedFormat(entry, MAX_PATH, (attributes & FILE_ATTRIBUTE_DIRECTORY) ? L"%s\\" : L"%s", child);
        if (IsPendingRemoval(items, entry)) {
            pendingLeft = true;
        } else if (!RecordNames(items, entry)) {
            othersLeft = true;
            RunLog(L"Kept (not placed by the setup): %s", entry);
        }
        return true;
    });
    if (!listed) RunLogFailure(L"Not removed", path, error);
    // Deleted at the restart after the files in it, if nothing else is there by then.
    else if (pendingLeft && !othersLeft && MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        RunLog(L"Removed at the next restart: %s\\", path);
    else if (othersLeft) RunLog(L"Kept (what is left in it is not the setup's): %s\\", path);
}

void RemovePlacedBelow(const std::vector<PlacedItem>& items, const wchar_t* folder, const wchar_t* keepFile,
                       bool keepRoot)
{
    if (!folder || !folder[0] || !EndsWithBackslash(folder)) return;
    wchar_t kept[MAX_PATH] = L"";
    if (keepFile) BoundedFormat(kept, MAX_PATH, L"%s%s", folder, keepFile);
    for (const PlacedItem& item : items)
        if (item.kind == kPlacedFile && LiesAtOrBelow(item.path, folder) && !SamePath(item.path, kept))
            RemovePlacedFile(item.path, 0);
    // Deepest first: a folder's own folders go before it.
    for (size_t length = MAX_PATH - 1; length > 0; --length)
        for (const PlacedItem& item : items)
            if (item.kind == kPlacedFolder && wcslen(item.path) == length && LiesAtOrBelow(item.path, folder) &&
                !(keepRoot && SamePath(item.path, folder)))
                RemoveFolderWhenEmpty(item.path, items);
}
