#include "engine/install_folder_removal.h"

#include <windows.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/shared_routines.h"
#include "engine/registration_removal.h"
#include "engine/removal_guard.h"

namespace {

const wchar_t kSetupName[] = L"installer.exe";

// Everything in folder (ending with a backslash) but the setup itself.
void RemoveAllButSetup(const wchar_t* folder)
{
    wchar_t pattern[MAX_PATH];
    if (BoundedFormat(pattern, MAX_PATH, L"%s*", folder) >= MAX_PATH - 1) return;
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        entry.cFileName[MAX_PATH - 1] = L'\0';
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
        if (_wcsicmp(entry.cFileName, kSetupName) == 0) continue;
        wchar_t path[MAX_PATH];
        if (BoundedFormat(path, MAX_PATH, L"%s%s", folder, entry.cFileName) >= MAX_PATH - 1) continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveFolderTree(path);
        } else {
            SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(path);
        }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}

}  // namespace

void RemoveProductFolder(const wchar_t* folder, const wchar_t* installFolder)
{
    if (!PathExists(folder)) return;
    // A damaged value must not take the system or other programs with it.
    if (!IsProductFolderToRemove(folder, installFolder)) {
        RunLog(L"Not removed (not a folder of the product alone): %s", folder);
        return;
    }
    RemoveFolderTree(folder);
    if (PathExists(folder)) RunLog(L"FAILED: folder not removed completely: %s", folder);
    else RunLog(L"Removed: %s", folder);
}

void RemoveInstallFolderAndEntry(const wchar_t* name, const wchar_t* folder)
{
    wchar_t base[MAX_PATH] = L"";
    if (folder && folder[0]) {
        BoundedCopy(base, MAX_PATH, folder);
        AppendBackslashIfMissing(base, MAX_PATH);
    }
    // The entry's command runs the setup in this folder: it stays until the
    // entry is gone, so that the entry works for as long as it is listed.
    if (base[0] && PathExists(base) && IsProductFolderToRemove(base, base)) RemoveAllButSetup(base);
    RemoveUninstallEntry(name);
    if (base[0]) RemoveProductFolder(base, base);
}
