#include "app/delayed_removal.h"

#include <windows.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/shared_routines.h"

namespace {

void ScheduleContents(const wchar_t* folder);

void ScheduleEntry(const WIN32_FIND_DATAW& entry, void* folder)
{
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
    wchar_t path[MAX_PATH];
    if (BoundedFormat(path, MAX_PATH, L"%s\\%s", static_cast<const wchar_t*>(folder), entry.cFileName) >= MAX_PATH - 1)
        return;
    if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ScheduleContents(path);
    MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

void ScheduleContents(const wchar_t* folder)
{
    wchar_t pattern[MAX_PATH];
    if (BoundedFormat(pattern, MAX_PATH, L"%s\\*", folder) >= MAX_PATH - 1) return;
    ForEachListedEntry(pattern, &ScheduleEntry, const_cast<wchar_t*>(folder));
}

}  // namespace

bool ScheduleRemovalAtRestart(const wchar_t* folder)
{
    if (!folder || !folder[0]) return false;
    wchar_t target[MAX_PATH];
    BoundedCopy(target, MAX_PATH, folder);
    size_t length = wcslen(target);
    while (length > 3 && target[length - 1] == L'\\') target[--length] = L'\0';
    DWORD attributes = GetFileAttributesW(target);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    ScheduleContents(target);
    return MoveFileExW(target, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}
