#include "files/held_file.h"

#include <tlhelp32.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/run_log.h"
#include "files/in_use.h"

namespace {

// "name.exe (pid), ..." of the processes that have path loaded.
void DescribeHolders(const wchar_t* path, int modules32, wchar_t* out, size_t capacity)
{
    out[0] = L'\0';
    CZD_IMELoadStatus probe(nullptr);
    BoundedCopy(probe.m_szModulePath, MAX_PATH, path);
    probe.m_bModules32 = modules32;
    probe.CollectModuleHolders();
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    for (DWORD id : probe.m_processIds) {
        wchar_t name[MAX_PATH] = L"?";
        PROCESSENTRY32W entry;
        entry.dwSize = sizeof entry;
        if (snapshot != INVALID_HANDLE_VALUE && Process32FirstW(snapshot, &entry)) {
            do {
                if (entry.th32ProcessID == id) {
                    entry.szExeFile[MAX_PATH - 1] = L'\0';
                    BoundedCopy(name, MAX_PATH, entry.szExeFile);
                    break;
                }
            } while (Process32NextW(snapshot, &entry));
        }
        wchar_t item[MAX_PATH + 24];
        BoundedFormat(item, MAX_PATH + 24, L"%s%s (%lu)", out[0] ? L", " : L"", name, id);
        BoundedAppend(out, capacity, item);
    }
    if (snapshot != INVALID_HANDLE_VALUE) CloseHandle(snapshot);
    if (!out[0]) BoundedCopy(out, capacity, L"a program that could not be named");
}

bool IsHeldError(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_USER_MAPPED_FILE;
}

}  // namespace

bool MoveHeldFileAside(const wchar_t* path, int modules32, wchar_t* movedTo)
{
    wchar_t holders[1024];
    DescribeHolders(path, modules32, holders, 1024);

    wchar_t aside[MAX_PATH];
    bool moved = false;
    for (unsigned attempt = 0; attempt < 16 && !moved; ++attempt) {
        size_t n = BoundedFormat(aside, MAX_PATH, L"%s.%08lx.old", path, GetTickCount() + attempt);
        if (n >= MAX_PATH - 1) break;  // a cut name could be any file
        moved = MoveFileExW(path, aside, 0) != FALSE;
    }
    if (!moved) {
        RunLogFailure(L"Held file could not be moved aside", path, GetLastError());
        return false;
    }
    // The renamed file goes at the next restart, when nothing holds it.
    if (!MoveFileExW(aside, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        RunLogFailure(L"Deletion at the next restart could not be scheduled", aside, GetLastError());
        MoveFileExW(aside, path, 0);
        return false;
    }
    RunLog(L"In use by %s: %s moved aside to %s, deleted at the next restart", holders, path, aside);
    NoteRestartNeeded();
    if (movedTo) BoundedCopy(movedTo, MAX_PATH, aside);
    return true;
}

bool RemoveFileOrSchedule(const wchar_t* path, int modules32)
{
    if (DeleteFileW(path)) {
        RunLog(L"Removed: %s", path);
        return true;
    }
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return true;
    // In every run: the process list before the uninstall has had its say.
    if (IsHeldError(error) && MoveHeldFileAside(path, modules32)) return true;
    RunLogFailure(L"Not removed", path, error);
    return false;
}
