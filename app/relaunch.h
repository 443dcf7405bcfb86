// Running repair and uninstall from a copy in the temporary folder, and the
// copy's deletion of itself afterwards.
#pragma once
#include "base/setup_context.h"

// Copies <install folder>installer.exe to the temporary folder and starts the
// copy with the same command line and "/f", waits for it and returns its exit
// code. Shows the copy or start failure (and returns 1603).
DWORD RelaunchFromTempCopy(SetupContext& ctx, const wchar_t* commandLine);
// Starts a hidden "del" of the running executable that runs once we are gone.
void DeleteRunningCopy();
// Removes folder now, even when this program runs from it: its image is
// moved to the temporary folder first and deleted once we are gone. False
// when the folder stays.
bool RemoveFolderOfRunningImage(const wchar_t* folder);
