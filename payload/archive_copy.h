// The archive's copy in the work folder, which becomes the install folder's
// backup: written from the held own image on a thread of its own while the
// payload is unpacked and placed. Once written it is held (others may only
// read it) until it is finished, and its SHA-256 is read through that hold.
#pragma once
#include <windows.h>

#include "base/shared_routines.h"

// Takes `image` over (closed once the bytes are written) and writes `size`
// bytes from `offset` to path. Without a thread the copy is written at once.
// False when that failed; the file is not left short.
bool StartArchiveCopy(MappedFile* image, DWORD offset, DWORD size, const wchar_t* path);
// Waits for the copy; true when it was written whole.
bool WaitForArchiveCopy();
// Waits for the copy and lets the file go. True when it was written whole
// and, when `digest` is not null, its digest read into it; false too when
// none was started.
bool FinishArchiveCopy(wchar_t* digest);
