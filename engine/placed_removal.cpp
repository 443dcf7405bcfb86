#include "engine/placed_removal.h"

#include <algorithm>
#include <cwchar>
#include <string>

#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "base/run_log.h"
#include "base/shared_routines.h"
#include "files/folder_guard.h"
#include "files/folder_listing.h"
#include "files/held_file.h"

namespace {

bool SamePath(const std::wstring& a, const wchar_t* b)
{
    return CompareStringOrdinal(a.c_str(), -1, b, -1, TRUE) == CSTR_EQUAL;
}

// path is folder (ending with a backslash) or lies below it.
bool LiesAtOrBelow(const std::wstring& path, const wchar_t* folder)
{
    size_t n = wcslen(folder);
    return n > 3 && folder[n - 1] == L'\\' && path.size() >= n &&
           CompareStringOrdinal(path.c_str(), static_cast<int>(n), folder, static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

// What a held file of the record became: "<path>.<8 hex digits>.old", gone at the next restart.
bool IsPendingRemoval(const std::vector<PlacedItem>& items, const std::wstring& path)
{
    const size_t kSuffix = 13;
    if (path.size() <= kSuffix || path.compare(path.size() - 4, 4, L".old") != 0) return false;
    return RecordNames(items, path.substr(0, path.size() - kSuffix).c_str());
}

// The payload's names as an earlier setup placed them in the install folder:
// the data files, the Windows folder's files and the fonts went elsewhere,
// and so did the drivers (at the top and in its x86 folder).
void AddPayloadNames(const wchar_t* source, const std::wstring& destination, bool top, bool driverHere,
                     std::vector<PlacedItem>& items)
{
    ForEachChild(source, [&](const wchar_t* path, DWORD attributes) {
        const wchar_t* name = wcsrchr(path, L'\\') + 1;
        const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (folder ? top && name[0] == L'$' : driverHere && EqualsIgnoreAsciiCase(name, L"zerdaIME.ime")) return true;
        std::wstring placed = destination + name;
        if (folder) {
            items.push_back(PlacedItem{placed + L"\\", kPlacedFolder, false});
            AddPayloadNames(path, placed + L"\\", false, top && EqualsIgnoreAsciiCase(name, L"x86"), items);
        } else {
            items.push_back(PlacedItem{placed, kPlacedFile, false});
        }
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
    const std::wstring folder = installFolder;
    items.push_back(PlacedItem{folder, kPlacedFolder, false});
    for (const wchar_t* file : {L"installer.exe", L"_backup_.dat", L"config.exe", L"main.chm"})
        items.push_back(PlacedItem{folder + file, kPlacedFile, false});
    if (payloadFolder && payloadFolder[0] && FolderExists(payloadFolder))
        AddPayloadNames(payloadFolder, folder, true, true, items);
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
        std::wstring entry = child;
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) entry += L'\\';
        if (IsPendingRemoval(items, entry)) {
            pendingLeft = true;
        } else if (!RecordNames(items, entry.c_str())) {
            othersLeft = true;
            RunLog(L"Kept (not placed by the setup): %s", entry.c_str());
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
    std::wstring kept = keepFile ? std::wstring(folder) + keepFile : L"";
    std::vector<std::wstring> folders;
    for (const PlacedItem& item : items) {
        if (!LiesAtOrBelow(item.path, folder)) continue;
        if (item.kind == kPlacedFolder) folders.push_back(item.path);
        else if (item.kind == kPlacedFile && !(keepFile && SamePath(kept, item.path.c_str())))
            RemovePlacedFile(item.path.c_str(), 0);
    }
    // Deepest first: a folder's own folders go before it.
    std::sort(folders.begin(), folders.end(),
              [](const std::wstring& a, const std::wstring& b) { return a.size() > b.size(); });
    for (const std::wstring& path : folders)
        if (!(keepRoot && SamePath(path, folder))) RemoveFolderWhenEmpty(path.c_str(), items);
}
