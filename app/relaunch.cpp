#include "app/relaunch.h"

#include <shellapi.h>

#include <cwchar>

#include "base/bounded_string.h"
#include "base/link_checks.h"
#include "app/messages.h"
#include "app/protected_copy.h"
#include "base/run_log.h"
#include "base/run_options.h"
#include "base/shared_routines.h"
#include "engine/registration_removal.h"
#include "payload/own_image.h"
#include "platform/dialog_worker.h"
#include "platform/prompt.h"

namespace {

// The copy has ended, so its file can go; one that something still holds (a
// scanner looking at the fresh file) goes at the next restart.
void DeleteEndedCopy(const wchar_t* path)
{
    for (int attempt = 0; attempt < 20 && PathExists(path); ++attempt) {
        if (DeleteFileDirectly(path)) break;
        Sleep(100);
    }
    if (PathExists(path) && MoveFileExW(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
        RunLog(L"The temporary copy goes at the next restart: %s", path);
}

}  // namespace

bool LocateInstalledSetup(SetupContext& ctx)
{
    // An uninstall ended after the product's keys went left its entry, which
    // still names the folder of the setup that finishes it.
    if (!ReadInstallLocation(ctx.name, ctx.installFolder) && !ProductKeyExists(ctx.name))
        ReadUninstallEntryLocation(ctx.name, ctx.installFolder);
    // Anything else would be looked up in the current folder.
    return IsAbsolutePath(ctx.installFolder);
}

DWORD RelaunchFromTempCopy(SetupContext& ctx, const wchar_t* commandLine)
{
    wchar_t source[MAX_PATH];
    BoundedFormat(source, MAX_PATH, L"%sinstaller.exe", ctx.installFolder);

    // In this run's own work folder: nobody else can put a file there.
    wchar_t destination[MAX_PATH] = L"";
    if (ctx.workFolder[0] && wcslen(ctx.workFolder) + 14 + 2 < MAX_PATH)
        BoundedFormat(destination, MAX_PATH, L"%s\\installer.exe", ctx.workFolder);

    // Kept open, and so unchangeable, until the copy runs from its own image.
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
    if (IsRunLogOpen() && _wcsicmp(RunLogPath(), g_run.logPath) != 0) {
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
    copy.Release();
    if (!started || reinterpret_cast<INT_PTR>(start.hInstApp) <= 32) {
        RunLogFailure(L"The temporary copy could not be started", destination, GetLastError());
        ShowMessageBox(nullptr, msg::kStartFailedText, msg::kRelaunchCaption, MB_ICONERROR);
        if (start.hProcess) CloseHandle(start.hProcess);
        return kExitFailure;
    }
    // Whoever started this run learns the outcome only when the work is done.
    // This thread holds a COM apartment: it keeps serving its messages while
    // it waits, or every program's broadcast would wait for it.
    DWORD code = kExitFailure;
    if (start.hProcess) {
        if (WaitServingMessages(start.hProcess, INFINITE) != WAIT_OBJECT_0) WaitForSingleObject(start.hProcess, INFINITE);
        if (!GetExitCodeProcess(start.hProcess, &code)) code = kExitFailure;
        CloseHandle(start.hProcess);
    }
    DeleteEndedCopy(destination);
    return code;
}

bool RemoveFolderOfRunningImage(const wchar_t* folder, const wchar_t* asideFolder)
{
    wchar_t self[MAX_PATH], aside[MAX_PATH] = L"";
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (!folder || !folder[0] || n == 0 || n >= MAX_PATH) return false;
    bool inside = _wcsnicmp(self, folder, wcslen(folder)) == 0;
    if (inside) {
        // A running image can be renamed, not deleted; across volumes it
        // cannot be moved at all, and the folder then goes at the restart.
        if (!asideFolder || !asideFolder[0] ||
            BoundedFormat(aside, MAX_PATH, L"%s\\installer.%08lx.old", asideFolder, GetTickCount()) >= MAX_PATH - 1)
            return false;
        // Held since the start without delete sharing: let go for the move.
        ReleaseOwnFile();
        // Gone already where a running image may be deleted (Wine).
        if (!MoveFileExW(self, aside, 0) && PathExists(self)) return false;
    }
    // Only the folder itself: what others put in it stays, and so does the
    // folder (the moved image goes with the folder it was moved into).
    RemoveDirectoryW(folder);
    return true;
}
