#include "engine/install_folder_removal.h"

#include <windows.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/shared_routines.h"
#include "base/link_checks.h"
#include "engine/placed_removal.h"
#include "engine/registration_removal.h"
#include "engine/removal_guard.h"
#include "files/folder_guard.h"

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
    if (folder && folder[0] && IsAbsolutePath(folder)) {
        BoundedCopy(base, MAX_PATH, folder);
        AppendBackslashIfMissing(base, MAX_PATH);
    }
    // The entry's command runs the setup in this folder: it stays until the
    // entry is gone, so that the entry works for as long as it is listed.
    // The product's other files went by its record before its keys.
    RemoveUninstallEntry(name);
    if (!base[0] || !FolderExists(base) || IsGuardedFolder(base) || IsOrLiesBelowLink(base)) return;
    wchar_t setup[MAX_PATH];
    // While the starter of this uninstall runs from it, the starter removes it at its end.
    if (BoundedFormat(setup, MAX_PATH, L"%sinstaller.exe", base) < MAX_PATH - 1 && DeleteFileDirectly(setup))
        RunLog(L"Removed: %s", setup);
    RemoveFolderWhenEmpty(base, {MakePlacedItem(base, L"installer.exe", kPlacedFile)});
}
