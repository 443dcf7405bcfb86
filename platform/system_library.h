// Files of the system folder named in full: the program runs elevated from
// folders that anyone can write to, so nothing it loads or starts may be
// looked up by a bare name.
#pragma once
#include <windows.h>

#include <cstddef>

// <system folder>\<name> into out; false (and out empty) when it does not fit.
bool ComposeSystemPath(const wchar_t* name, wchar_t* out, size_t capacity);
// LoadLibraryW of <system folder>\<name>; null when missing.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The system DLLs that system components (common controls, shell, COM,
// security) load by bare name once the program runs. Where the system cannot
// be told to skip the program's own folder (Windows 7 without the loader
// update that brings SetDefaultDllDirectories), loading them first, by full
// path, makes every later load by name find the one already loaded.
extern const wchar_t* const kLateSystemLibraries[];
extern const size_t kLateSystemLibraryCount;
// Loads each of them from the system folder (their own imports are looked
// up there too); a library the system does not have is passed over.
void PreloadSystemLibraries();
