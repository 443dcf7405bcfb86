#include "app/run_log_folder.h"

#include <windows.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "base/run_options.h"
#include "engine/registration_common.h"
#include "files/folder_guard.h"
#include "files/secure_folder.h"

namespace {

// The log folder, made or taken over as the product's folders are: no
// standard user can put a file or a link there. False when it cannot be.
bool PrepareLogFolder(wchar_t* folder /* MAX_PATH */)
{
    wchar_t family[MAX_PATH];
    if (!FamilyDataFolder(family)) return false;
    if (BoundedFormat(folder, MAX_PATH, L"%s\\Logs\\", family) >= MAX_PATH - 80) return false;
    return SecureProductFolder(family, ProductFolder::Family) && SecureProductFolder(folder, ProductFolder::Data);
}

// Keeps the newest kRunLogsKept logs of the folder; the older ones go.
void PruneLogs(const wchar_t* folder)
{
    wchar_t pattern[MAX_PATH];
    if (BoundedFormat(pattern, MAX_PATH, L"%s*.log", folder) >= MAX_PATH - 1) return;
    // The oldest goes, one a pass and at most 64 a run: a folder filled by
    // hand reaches the limit over a few runs.
    for (int pass = 0; pass < 64; ++pass) {
        WIN32_FIND_DATAW entry;
        HANDLE search = FindFirstFileW(pattern, &entry);
        if (search == INVALID_HANDLE_VALUE) return;
        int count = 0;
        FILETIME oldest{0xFFFFFFFF, 0x7FFFFFFF};
        wchar_t oldestName[MAX_PATH] = L"";
        do {
            if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) continue;
            ++count;
            if (CompareFileTime(&entry.ftLastWriteTime, &oldest) < 0) {
                oldest = entry.ftLastWriteTime;
                BoundedCopy(oldestName, MAX_PATH, entry.cFileName);
            }
        } while (FindNextFileW(search, &entry));
        FindClose(search);
        if (count <= kRunLogsKept || !oldestName[0]) return;
        wchar_t path[MAX_PATH];
        if (BoundedFormat(path, MAX_PATH, L"%s%s", folder, oldestName) >= MAX_PATH - 1 ||
            !DeleteFileW(path))
            return;
    }
}

}  // namespace

void OpenRunLogOnce(const wchar_t* product, const wchar_t* mode)
{
    if (IsRunLogOpen()) return;
    wchar_t folder[MAX_PATH] = L"";
    if (!PrepareLogFolder(folder)) folder[0] = L'\0';
    // Only a product key name goes into a file name; anything else on the
    // command line could name other folders.
    bool named = product && wcslen(product) == 38 && wcsspn(product, L"{}-0123456789ABCDEFabcdef") == 38 &&
                 ParseProductKeyName(product, nullptr);
    wchar_t stem[96];
    BoundedFormat(stem, 96, L"%s_%s", named ? product : L"ZerdaIME3", mode);
    OpenRunLog(g_run.logPath, folder, stem);
    if (folder[0] && _wcsnicmp(RunLogPath(), folder, wcslen(folder)) == 0) PruneLogs(folder);
}
