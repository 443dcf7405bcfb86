#include "app/work_folder.h"

#include <cwchar>

#include "app/admin_only_security.h"
#include "base/bounded_string.h"
#include "base/shared_routines.h"

bool PrepareWorkFolder(SetupContext& ctx)
{
    static const wchar_t kName[] = L"$zerdaInstaller$";
    ctx.workFolder[0] = L'\0';
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return false;
    if (wcslen(temp) + wcslen(kName) + 2 >= MAX_PATH) return false;
    BoundedCopy(ctx.workFolder, kPathChars, temp);
    AppendBackslashIfMissing(ctx.workFolder, kPathChars);
    BoundedAppend(ctx.workFolder, kPathChars, kName);

    RemoveFolderTree(ctx.workFolder);
    if (PathExists(ctx.workFolder)) return false;  // held by a running instance
    // Made here with an access list of its own: the drivers are unpacked into
    // it before they go into the system folders. A folder of that name that
    // someone else made in between is not taken over.
    CreateFolderPath(temp);
    AdminOnlySecurity security(true);
    if (!security.Attributes() || !CreateDirectoryW(ctx.workFolder, security.Attributes())) return false;

    ctx.ownFilePath[0] = L'\0';
    n = GetModuleFileNameW(nullptr, ctx.ownFilePath, kPathChars);
    if (n >= kPathChars) ctx.ownFilePath[kPathChars - 1] = L'\0';
    return ctx.ownFilePath[0] != L'\0';
}
