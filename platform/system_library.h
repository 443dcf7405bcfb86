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
