// The setup's own file, opened once at the start and read only through that
// handle: while the setup runs nobody can change, rename or replace it, and
// the payload it unpacks is the one of the program that runs (and that the
// consent prompt showed), not of a file put under its name afterwards.
#pragma once
#include <windows.h>

// Opens path for reading, refusing writers and deleters, and keeps it open
// until ReleaseOwnFile or the end of the process. False: nothing is held.
bool HoldOwnFile(const wchar_t* path);
// The held file; null when none is held.
HANDLE HeldOwnFile();
void ReleaseOwnFile();

// True when file begins with the headers of the image this process runs
// (the image base aside, which the loader rewrites when it relocates).
bool IsRunningImage(HANDLE file);
