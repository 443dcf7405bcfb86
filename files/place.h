// Putting files at their final places with the version comparison, the
// in-use handling and the access grant.
#pragma once
#include <windows.h>

// Copies one file into place; 1 handled (copied and opened to everyone, or
// nothing to do, or a newer file kept at the user's word), 0 failed.
// destination: a writable buffer of MAX_PATH characters, lower-cased in place.
// Files below the data folder of the setup context are opened to everyone
// with full access; every other file for reading and running only.
int PlaceFile(const wchar_t* source, wchar_t* destination, int compareVersions, int includeModules32);
// As PlaceFile, for a source the caller deletes once it is placed: on the
// destination's volume it is moved there and gets the access list a copy
// would get (every byte written once), elsewhere it is copied. A source that
// was not placed stays where it was.
int PlaceFileByMove(const wchar_t* source, wchar_t* destination, int compareVersions, int includeModules32);
// Places every file of the source tree below the destination folder (folders
// whose names begin with "." are skipped); keepSources 0 deletes each source
// file once dealt with, moving it into place where PlaceFileByMove would.
// 0 when the destination cannot be made or a file had to be kept aside in
// the work folder, which ends that folder's walk.
int PlaceFolderTree(const wchar_t* sourceFolder, const wchar_t* destinationFolder, int keepSources);
