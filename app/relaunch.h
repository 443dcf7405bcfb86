// Running repair and uninstall from a copy in the work folder, and the
// removal of that copy (and of the install folder the starter runs from)
// once the copy has ended.
#pragma once
#include "base/setup_context.h"

// Reads the folder of the installed setup into ctx.installFolder (from the
// product key, or from the uninstall entry that an interrupted uninstall
// left); false when it is not a full path.
bool LocateInstalledSetup(SetupContext& ctx);
// Copies <install folder>installer.exe into the work folder and starts the
// copy with the same command line and "/f", waits for it, deletes it and
// returns its exit code. Shows the copy or start failure (and returns 1603).
DWORD RelaunchFromTempCopy(SetupContext& ctx, const wchar_t* commandLine);
// Removes folder now when nothing else is left in it, even when this
// program runs from it: its image is moved into asideFolder first (and goes
// with it). False when the image cannot be moved out of the folder.
bool RemoveFolderOfRunningImage(const wchar_t* folder, const wchar_t* asideFolder);
