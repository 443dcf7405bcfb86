// The elevated setup must not write, run or delete what a junction or
// symbolic link planted by someone else leads to. A path is judged by the
// object actually opened: the final path the system reports for the handle
// must be the path that was asked for.
#pragma once
#include <windows.h>

#ifndef ERROR_STOPPED_ON_SYMLINK
#define ERROR_STOPPED_ON_SYMLINK 681L  // "The create operation stopped after reaching a symbolic link."
#endif

// The full, long form of path (short names expanded as far as the path
// exists), without a trailing backslash except after a drive ("C:\"). False
// when it cannot be formed within MAX_PATH characters.
bool CanonicalPath(const wchar_t* path, wchar_t* out /* MAX_PATH */);

// True when handle's object is the one that path names directly: no
// junction or symbolic link on the way (a link at the end counts only when
// the handle was opened without FILE_FLAG_OPEN_REPARSE_POINT).
bool IsReachedDirectly(HANDLE handle, const wchar_t* path);

// The path the system holds for the open object, in the form CanonicalPath
// gives (no "\\?\" prefix, "\\?\UNC\" as "\\"). False when it does not fit.
bool FinalPathOfObject(HANDLE handle, wchar_t* out /* MAX_PATH */);

// True when a folder on the way to path (with includeLast, path itself too)
// is a reparse point: a junction, a symbolic link, a mounted volume.
bool HasReparsePointOnTheWay(const wchar_t* path, bool includeLast);

// CreateFileW that never follows a link at the end of path and refuses an
// object reached through a link on the way (INVALID_HANDLE_VALUE with
// ERROR_STOPPED_ON_SYMLINK). A file created by the call and then refused is
// deleted again when DELETE is among the access rights.
HANDLE OpenDirectly(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);

// Deletes the open object (a link goes itself, never its target), also when
// it is read-only; where the system can, its name goes at once even while
// others still hold it.
bool DeleteByHandle(HANDLE handle);

// Deletes the file path names; a link at its end goes itself, and a path
// through a link is refused. False when nothing was deleted.
bool DeleteFileDirectly(const wchar_t* path);

// True when path names a file (no folder) strictly inside folder, once both
// are written out in full, with no reparse point on the way to it.
bool IsFileInsideFolder(const wchar_t* path, const wchar_t* folder);
