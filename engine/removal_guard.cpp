#include "engine/removal_guard.h"

#include <windows.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "files/folder_guard.h"

bool IsProductFolderToRemove(const wchar_t* path, const wchar_t* installFolder)
{
    wchar_t folder[MAX_PATH], family[MAX_PATH];
    if (!NormalizeFolderPath(path, folder) || IsGuardedFolder(folder) || IsOrLiesBelowLink(folder)) return false;
    if (installFolder && installFolder[0] && IsSameFolder(folder, installFolder)) return true;
    return FamilyDataFolder(family) && LiesStrictlyBelow(folder, family);
}

bool IsShortcutGroupToRemove(const wchar_t* group, const wchar_t* programs)
{
    wchar_t folder[MAX_PATH], parent[MAX_PATH], start[MAX_PATH];
    if (!NormalizeFolderPath(group, folder) || !NormalizeFolderPath(programs, start)) return false;
    if (IsOrLiesBelowLink(folder) || IsOrLiesBelowLink(start)) return false;
    BoundedCopy(parent, MAX_PATH, folder);
    wchar_t* last = wcsrchr(parent, L'\\');
    if (!last || !last[1]) return false;
    *last = L'\0';
    return IsSameFolder(parent, start);
}
