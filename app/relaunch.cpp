#include "app/relaunch.h"

#include <shellapi.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "app/messages.h"
#include "app/protected_copy.h"
#include "base/run_log.h"
#include "base/run_options.h"
#include "base/shared_routines.h"
#include "engine/registration_removal.h"
#include "platform/prompt.h"
#include "platform/system_library.h"

DWORD RelaunchFromTempCopy(SetupContext& ctx, const wchar_t* commandLine)
{
    // An uninstall ended after the product's keys went left its entry, which
    // still names the folder of the setup that finishes it.
    if (!ReadInstallLocation(ctx.name, ctx.installFolder) && !ProductKeyExists(ctx.name))
        ReadUninstallEntryLocation(ctx.name, ctx.installFolder);  // may stay empty

    wchar_t source[MAX_PATH];
    BoundedFormat(source, MAX_PATH, L"%sinstaller.exe", ctx.installFolder);

    wchar_t destination[MAX_PATH] = L"";
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n > 0 && n < MAX_PATH && wcslen(temp) + 13 + 2 < MAX_PATH) {
        BoundedCopy(destination, MAX_PATH, temp);
        AppendBackslashIfMissing(destination, MAX_PATH);
        BoundedAppend(destination, MAX_PATH, L"installer.exe");
    }

    // Kept open, and so unchangeable, until this routine returns: by then the
    // copy runs from its own image.
    HeldCopy copy(source, destination);
    if (!copy.Written()) {
        RunLogFailure(L"The installed setup could not be copied to the temporary folder", source, GetLastError());
        wchar_t text[1024];
        BoundedFormat(text, 1024, msg::kCopyFailedFormat, ctx.installFolder, source, destination);
        ShowMessageBox(nullptr, text, msg::kRelaunchCaption, MB_ICONERROR);
        return kExitFailure;
    }

    wchar_t parameters[512];
    BoundedFormat(parameters, 512, L"%s /f", commandLine ? commandLine : L"");
    // A log this run chose itself is handed on, so that the copy writes on.
    if (IsRunLogOpen() && !g_run.logPath[0]) {
        wchar_t logSwitch[MAX_PATH + 16];
        BoundedFormat(logSwitch, MAX_PATH + 16, L" /log=\"%s\"", RunLogPath());
        BoundedAppend(parameters, 512, logSwitch);
    }
    RunLog(L"Starting the temporary copy: %s %s", destination, parameters);

    SHELLEXECUTEINFOW start{};
    start.cbSize = sizeof start;
    start.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    start.lpFile = destination;
    start.lpParameters = parameters;
    start.nShow = SW_SHOW;
    BOOL started = ShellExecuteExW(&start);
    if (!started || reinterpret_cast<INT_PTR>(start.hInstApp) <= 32) {
        RunLogFailure(L"The temporary copy could not be started", destination, GetLastError());
        ShowMessageBox(nullptr, msg::kStartFailedText, msg::kRelaunchCaption, MB_ICONERROR);
        if (start.hProcess) CloseHandle(start.hProcess);
        return kExitFailure;
    }
    // Waiting here must not keep the copy from removing the folder this
    // run was started in.
    if (n > 0 && n < MAX_PATH) SetCurrentDirectoryW(temp);
    // Whoever started this run learns the outcome only when the work is done.
    DWORD code = kExitFailure;
    if (start.hProcess) {
        WaitForSingleObject(start.hProcess, INFINITE);
        if (!GetExitCodeProcess(start.hProcess, &code)) code = kExitFailure;
        CloseHandle(start.hProcess);
    }
    return code;
}

namespace {

// Starts a hidden "del" of path that retries until this process is gone.
void DeleteAfterExit(const wchar_t* path)
{
    // Both programs from the system folder, named in full: "COMSPEC" and the
    // search path are the user's to change, and the child starts in the
    // temporary folder, where a bare "ping" would find a planted one. /d: no
    // AutoRun command from the user's registry.
    wchar_t interpreter[MAX_PATH], ping[MAX_PATH];
    if (!ComposeSystemPath(L"cmd.exe", interpreter, MAX_PATH) || !ComposeSystemPath(L"ping.exe", ping, MAX_PATH))
        return;
    wchar_t shortPath[MAX_PATH];
    DWORD n = GetShortPathNameW(path, shortPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;

    // Quoted: where short names are off the short form is the long path, and
    // a blank in it would make del remove other files. The running image
    // cannot be deleted while this process lives, and nothing here waits for
    // the child, so the child tries again, once a second, for ten seconds.
    wchar_t command[1024];
    size_t length = BoundedFormat(command, 1024,
                                  L"%s /d /c for /l %%i in (1,1,10) do (\"%s\" -n 2 127.0.0.1 >nul & "
                                  L"if exist \"%s\" del \"%s\")",
                                  interpreter, ping, shortPath, shortPath);
    if (length >= 1023) return;  // never run a cut command

    STARTUPINFOW si{};
    si.cb = sizeof si;
    // No standard handles: a log file or pipe that this run was given must
    // not stay open for the seconds the child runs.
    si.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    // The child lives for some seconds: it must not keep the folder this copy
    // was started in (the install folder, from a shortcut) as its current
    // folder, or an uninstall right after would fail to remove that folder.
    wchar_t childFolder[MAX_PATH];
    BoundedCopy(childFolder, MAX_PATH, path);
    wchar_t* lastSeparator = wcsrchr(childFolder, L'\\');
    if (lastSeparator) lastSeparator[1] = L'\0';
    if (!CreateProcessW(interpreter, command, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        lastSeparator ? childFolder : nullptr, &si, &pi))
        return;
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    SetPriorityClass(pi.hProcess, IDLE_PRIORITY_CLASS);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

}  // namespace

void DeleteRunningCopy()
{
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    DeleteAfterExit(self);
}

bool RemoveFolderOfRunningImage(const wchar_t* folder)
{
    wchar_t self[MAX_PATH], temp[MAX_PATH], aside[MAX_PATH] = L"";
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    DWORD t = GetTempPathW(MAX_PATH, temp);
    if (!folder || !folder[0] || n == 0 || n >= MAX_PATH || t == 0 || t >= MAX_PATH) return false;
    AppendBackslashIfMissing(temp, MAX_PATH);
    bool inside = _wcsnicmp(self, folder, wcslen(folder)) == 0;
    if (inside) {
        // A running image can be renamed, not deleted; across volumes it
        // cannot be moved at all, and the folder then goes after the exit.
        if (BoundedFormat(aside, MAX_PATH, L"%sinstaller.%08lx.old", temp, GetTickCount()) >= MAX_PATH - 1) return false;
        if (!MoveFileExW(self, aside, 0)) return false;
    }
    RemoveFolderTree(folder);
    bool gone = !PathExists(folder);
    if (inside) {
        if (gone) DeleteAfterExit(aside);
        else MoveFileExW(aside, self, 0);
    }
    return gone;
}
