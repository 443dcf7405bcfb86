#include "engine/install_folder_choice.h"

#include <cwchar>
#include <vector>

#include "base/bounded_string.h"
#include "base/placed_record.h"
#include "base/run_log.h"
#include "base/setup_context.h"
#include "base/shared_routines.h"
#include "engine/registration_removal.h"
#include "files/folder_guard.h"
#include "files/folder_listing.h"

namespace {

// The product's key, its uninstall entry and its record are written by the
// Administrators alone: a folder they name is the product's. The record
// names it before anything is placed in it, so a run that ended early is
// recognised too.
bool IsRecordedFolder(const wchar_t* folder, const wchar_t* productName)
{
    if (!productName || !productName[0]) return false;
    wchar_t recorded[MAX_PATH];
    if (ReadInstallLocation(productName, recorded) && recorded[0] && IsSameFolder(folder, recorded)) return true;
    if (ReadUninstallEntryLocation(productName, recorded) && recorded[0] && IsSameFolder(folder, recorded)) return true;
    std::vector<PlacedItem> items;
    if (!ReadPlacedRecord(productName, items)) return false;
    for (const PlacedItem& item : items)
        if (item.kind == kPlacedFolder && IsSameFolder(folder, item.path)) return true;
    return false;
}

// What an uninstall left for deletion at the next restart
// ("installer.exe.<unique>.removed") is nothing of anyone's.
bool IsSetupLeftover(const wchar_t* path)
{
    const wchar_t* name = wcsrchr(path, L'\\');
    name = name ? name + 1 : path;
    size_t length = wcslen(name);
    return length > 22 && _wcsnicmp(name, L"installer.exe.", 14) == 0 && _wcsicmp(name + length - 8, L".removed") == 0;
}

}  // namespace

FolderJudgement JudgeFolderUse(const wchar_t* folder, const wchar_t* productName)
{
    if (const wchar_t* refusal = InstallFolderRefusal(folder)) return {FolderUse::Refused, refusal};
    DWORD attributes = GetFileAttributesW(folder);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {FolderUse::Create, nullptr};
        return {FolderUse::Refused, L"it cannot be looked at"};
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return {FolderUse::Refused, L"a file has its name"};
    if (IsRecordedFolder(folder, productName)) return {FolderUse::Recorded, nullptr};
    wchar_t normalized[MAX_PATH];
    if (!NormalizeFolderPath(folder, normalized)) return {FolderUse::Refused, L"it is no full path on a drive"};
    bool empty = true;
    if (!ForEachChild(normalized, [&](const wchar_t* path, DWORD) { return empty = IsSetupLeftover(path); }))
        return {FolderUse::Refused, L"what it holds cannot be listed"};
    if (!empty) return {FolderUse::Occupied, L"it holds files or folders that are not the product's"};
    return {FolderUse::Empty, nullptr};
}

bool ComposeOfferedFolder(const wchar_t* folder, const wchar_t* defaultFolderName, wchar_t* out)
{
    out[0] = L'\0';
    if (!folder || !folder[0] || !defaultFolderName || !defaultFolderName[0]) return false;
    wchar_t base[MAX_PATH];
    BoundedCopy(base, MAX_PATH, folder);
    AppendBackslashIfMissing(base, MAX_PATH);
    if (BoundedFormat(out, MAX_PATH, L"%s%s\\", base, defaultFolderName) >= MAX_PATH - 1) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

bool LogFolderRefusal(const wchar_t* folder, const FolderJudgement& judged, wchar_t* offered)
{
    wchar_t name[kDefaultFolderNameChars];
    BoundedCopyN(name, kDefaultFolderNameChars, DefaultFolderName(g_setup), kDefaultFolderNameChars - 1);
    bool inside = judged.use == FolderUse::Occupied && ComposeOfferedFolder(folder, name, offered) &&
                  MayInstallInto(JudgeFolderUse(offered, g_setup.name).use);
    RunLog(L"Refused as the install folder (%s): %s; a folder of the product's own would be accepted: %s",
           judged.reason ? judged.reason : L"", folder, inside ? offered : L"none");
    return inside;
}
