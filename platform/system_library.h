// Files of the system folder named in full: the program runs elevated from
// folders that anyone can write to, so nothing it loads or starts may be
// looked up by a bare name.
#pragma once
#include <windows.h>
#include <commdlg.h>

#include <cstddef>

// <system folder>\<name> into out; false (and out empty) when it does not fit.
bool ComposeSystemPath(const wchar_t* name, wchar_t* out, size_t capacity);
// LoadLibraryW of <system folder>\<name>; null when missing.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Registers the common control classes (all of the first eight groups) once,
// before the first window of the run; a run without windows never loads the
// library. It is the version 6 assembly that the program's manifest names,
// loaded by name so that the side-by-side store answers before any folder
// is searched.
void EnsureCommonControls();
// The system's file-open dialog, its library loaded from the system folder
// when first asked for; FALSE when it cannot be loaded.
BOOL ShowOpenFileDialog(OPENFILENAMEW* dialog);

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
