#include "app/work_folder.h"

#include <objbase.h>

#include "app/admin_only_security.h"
#include "app/delayed_removal.h"
#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "base/run_log.h"
#include "base/shared_routines.h"
#include "payload/archive_copy.h"
#include "payload/fonts.h"
#include "payload/payload_rest.h"

namespace {

HANDLE g_held = nullptr;

// A name nobody can tell beforehand.
bool UniqueName(wchar_t* out, size_t capacity)
{
    GUID random{};
    if (FAILED(CoCreateGuid(&random))) return false;
    BoundedFormat(out, capacity, L"ZerdaIME3.%08lx%04x%04x", random.Data1, random.Data2, random.Data3);
    return true;
}

void RemoveLeftWorkFolder(const WIN32_FIND_DATAW& entry, void* temp)
{
    wchar_t folder[MAX_PATH];
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
        BoundedFormat(folder, MAX_PATH, L"%s%s", static_cast<const wchar_t*>(temp), entry.cFileName) < MAX_PATH - 1)
        RemoveFolderTree(folder);
}

// Work folders of runs that were ended before they could remove them. Only
// a run that holds the run guard (or its relaunched copy) gets here, so no
// other run is between making its folder and holding it; a folder that a
// live run holds refuses to go.
void RemoveLeftWorkFolders(const wchar_t* temp)
{
    wchar_t pattern[MAX_PATH];
    if (BoundedFormat(pattern, MAX_PATH, L"%sZerdaIME3.*", temp) < MAX_PATH - 1)
        ForEachListedEntry(pattern, &RemoveLeftWorkFolder, const_cast<wchar_t*>(temp));
}

}  // namespace

bool PrepareWorkFolder(SetupContext& ctx)
{
    ctx.workFolder[0] = L'\0';
    wchar_t temp[MAX_PATH];
    if (!ComposeSystemTempFolder(temp)) return false;
    if (!FolderExists(temp)) CreateDirectoryW(temp, nullptr);
    if (HasReparsePointOnTheWay(temp, true)) return false;
    RemoveLeftWorkFolders(temp);
    AdminOnlySecurity security(true);
    if (!security.Attributes()) return false;

    for (int attempt = 0; attempt < 8 && !ctx.workFolder[0]; ++attempt) {
        wchar_t name[40], folder[MAX_PATH];
        if (!UniqueName(name, 40) || BoundedFormat(folder, MAX_PATH, L"%s%s", temp, name) >= MAX_PATH - 1) return false;
        // Made here, so never a folder or link that someone put there first.
        if (!CreateDirectoryW(folder, security.Attributes())) {
            if (GetLastError() == ERROR_ALREADY_EXISTS) continue;
            return false;
        }
        HANDLE held = OpenDirectly(folder, FILE_LIST_DIRECTORY | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
        if (held == INVALID_HANDLE_VALUE) return false;
        g_held = held;
        BoundedCopy(ctx.workFolder, kPathChars, folder);
    }
    if (!ctx.workFolder[0]) return false;

    ctx.ownFilePath[0] = L'\0';
    DWORD n = GetModuleFileNameW(nullptr, ctx.ownFilePath, kPathChars);
    if (n >= kPathChars) ctx.ownFilePath[kPathChars - 1] = L'\0';
    return ctx.ownFilePath[0] != L'\0';
}

void RemoveWorkFolder(SetupContext& ctx)
{
    // What still works in the folder ends first: the archive's copy (held
    // while it is written) and the fonts' move out of it.
    FinishPayloadRest(nullptr, nullptr);
    FinishArchiveCopy(nullptr);
    FinishPayloadFonts();
    if (g_held) CloseHandle(g_held);
    g_held = nullptr;
    if (!ctx.workFolder[0] || !PathExists(ctx.workFolder)) return;
    RemoveFolderTree(ctx.workFolder);
    if (PathExists(ctx.workFolder) && ScheduleRemovalAtRestart(ctx.workFolder))
        RunLog(L"What is left of the work folder goes at the next restart: %s", ctx.workFolder);
}
