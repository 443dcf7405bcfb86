// The companion tool's uninstall command: a program of the install folder
// with its switches, run to its end before the folder goes.
#pragma once
#include <windows.h>

#include <cstddef>

// Every "{appPath}\" replaced by the install folder, then split at the first
// " /" into file and parameters. False (both emptied) for an empty command.
bool SplitToolUninstallCommand(const wchar_t* command, const wchar_t* installFolder, wchar_t* file,
                               size_t fileCapacity, wchar_t* parameters, size_t parametersCapacity);

// The program that `file` names inside installFolder, as a full path: a
// relative name is taken below the folder, a full path must lie below it;
// only an existing ".exe" reached without a link counts. False (out emptied)
// for anything else.
bool ResolveToolProgram(const wchar_t* file, const wchar_t* installFolder, wchar_t* out /* MAX_PATH */);

constexpr DWORD kToolCommandWaitMs = 60000;

// Runs the setup context's uninstall command hidden, with the install folder
// as working folder, and waits up to waitMs for it. A tool still running then
// is ended with what it started, so that none of it keeps the folder. A
// command naming no program of the install folder is not run. Each outcome
// is logged.
void RunToolUninstallCommand(DWORD waitMs = kToolCommandWaitMs);

// The news program of the companion tool in the start-up of every user
// ("VarekNews" under HKLM\...\Run): only at a person's choice on the
// finish page. The uninstall takes it out while it is still the entry the
// finish page wrote for installFolder.
LONG WriteNewsAutostart(const wchar_t* installFolder);
void RemoveNewsAutostart(const wchar_t* installFolder);
