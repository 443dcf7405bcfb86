// Removing a folder tree with the Windows API: every object is opened
// without following a link, checked to be reached directly, and deleted
// through its handle, so a junction or symbolic link planted anywhere below
// (or swapped in while the walk runs) is removed itself, never followed.
#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "base/run_log.h"
#include "base/shared_routines.h"

namespace {

const DWORD kFolderAccess = DELETE | FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const DWORD kFileAccess = DELETE | FILE_WRITE_ATTRIBUTES;

bool RemoveEntry(const wchar_t* path, bool folder);

// Everything in the folder held open as handle (so it stays where it is),
// listed through that handle.
bool RemoveContents(HANDLE handle, const wchar_t* folder)
{
    const DWORD kListBytes = 16 * 1024;
    BYTE* listing = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, kListBytes));
    if (!listing) return false;
    bool all = true;
    for (FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;; query = FileIdBothDirectoryInfo) {
        if (!GetFileInformationByHandleEx(handle, query, listing, kListBytes)) {
            if (GetLastError() != ERROR_NO_MORE_FILES) all = false;
            break;
        }
        for (BYTE* at = listing;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            size_t chars = entry->FileNameLength / sizeof(wchar_t);
            bool self = (chars == 1 && entry->FileName[0] == L'.') ||
                        (chars == 2 && entry->FileName[0] == L'.' && entry->FileName[1] == L'.');
            wchar_t name[MAX_PATH], path[MAX_PATH];
            // A cut name would be some other object.
            if (!self && (chars >= MAX_PATH || BoundedCopyN(name, MAX_PATH, entry->FileName, chars) != chars ||
                          BoundedFormat(path, MAX_PATH, L"%s\\%s", folder, name) >= MAX_PATH - 1)) {
                all = false;
            } else if (!self && !RemoveEntry(path, (entry->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
                all = false;
            }
            if (!entry->NextEntryOffset) break;
            at += entry->NextEntryOffset;
        }
    }
    HeapFree(GetProcessHeap(), 0, listing);
    return all;
}

// Removes the object path names, a folder with all below it; a link goes
// itself. False when something stayed.
bool RemoveEntry(const wchar_t* path, bool folder)
{
    // No delete sharing: nobody renames it, or swaps it for a link, meanwhile.
    HANDLE handle = OpenDirectly(path, folder ? kFolderAccess : kFileAccess, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
    if (handle == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_STOPPED_ON_SYMLINK) RunLog(L"Not removed (reached through a link): %s", path);
        return false;
    }
    FILE_ATTRIBUTE_TAG_INFO kind{};
    bool all = GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &kind, sizeof kind) != 0;
    bool plainFolder = (kind.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                       !(kind.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (all && plainFolder) all = RemoveContents(handle, path);
    if (all) all = DeleteByHandle(handle);
    CloseHandle(handle);
    return all;
}

}  // namespace

int RemoveFolderTree(const wchar_t* path)
{
    wchar_t folder[MAX_PATH];
    if (!path || !path[0] || !CanonicalPath(path, folder) || !PathExists(folder)) return 0;
    DWORD attributes = GetFileAttributesW(folder);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return 0;
    if (HasReparsePointOnTheWay(folder, false)) {
        RunLog(L"Not removed (a link on the way): %s", folder);
        return 0;
    }

    // The process's current folder is never in the way: the start routine
    // leaves the folder it was started in, once, before other threads run.
    // A file that a scanner held for a moment gets a second chance.
    for (int attempt = 0; attempt < 2 && PathExists(folder); ++attempt) RemoveEntry(folder, true);
    return 1;
}
