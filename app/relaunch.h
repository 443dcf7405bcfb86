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
