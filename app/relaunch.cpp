#include "app/relaunch.h"

#include <shellapi.h>

#include <cwchar>

#include "app/bounded_string.h"
#include "app/messages.h"
#include "app/shared_routines.h"
#include "platform/prompt.h"

void RelaunchFromTempCopy(SetupContext& ctx, const wchar_t* commandLine)
{
    ReadInstallLocation(ctx.name, ctx.installFolder);  // may stay empty

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

    if (!CopyFileW(source, destination, FALSE)) {
        wchar_t text[1024];
        BoundedFormat(text, 1024, msg::kCopyFailedFormat, ctx.installFolder, source, destination);
        ShowMessageBox(nullptr, text, msg::kRelaunchCaption, MB_ICONERROR);
        return;
    }

    wchar_t parameters[512];
    BoundedFormat(parameters, 512, L"%s /f", commandLine ? commandLine : L"");
    HINSTANCE started = ShellExecuteW(nullptr, nullptr, destination, parameters, nullptr, SW_SHOW);
    if (reinterpret_cast<INT_PTR>(started) <= 32)
        ShowMessageBox(nullptr, msg::kStartFailedText, msg::kRelaunchCaption, MB_ICONERROR);
}

void DeleteRunningCopy()
{
    wchar_t self[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    wchar_t comspec[MAX_PATH];
    n = GetEnvironmentVariableW(L"COMSPEC", comspec, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    wchar_t shortPath[MAX_PATH];
    n = GetShortPathNameW(self, shortPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;

    // Quoted: where short names are off the short form is the long path, and
    // a blank in it would make del remove other files. The running image
    // cannot be deleted while this process lives, and nothing here waits for
    // the child, so the child tries again, once a second, for ten seconds.
    wchar_t command[1024];
    size_t length = BoundedFormat(command, 1024,
                                  L"%s /c for /l %%i in (1,1,10) do (ping -n 2 127.0.0.1 >nul & "
                                  L"if exist \"%s\" del \"%s\")",
                                  comspec, shortPath, shortPath);
    if (length >= 1023) return;  // never run a cut command

    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi{};
    // The child lives for some seconds: it must not keep the folder this copy
    // was started in (the install folder, from a shortcut) as its current
    // folder, or an uninstall right after would fail to remove that folder.
    wchar_t childFolder[MAX_PATH];
    BoundedCopy(childFolder, MAX_PATH, self);
    wchar_t* lastSeparator = wcsrchr(childFolder, L'\\');
    if (lastSeparator) lastSeparator[1] = L'\0';
    if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        lastSeparator ? childFolder : nullptr, &si, &pi))
        return;
    SetPriorityClass(GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    SetFileAttributesW(self, FILE_ATTRIBUTE_NORMAL);
    SetPriorityClass(pi.hProcess, IDLE_PRIORITY_CLASS);
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}
