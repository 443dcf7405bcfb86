// Putting files at their final places with the version comparison, the
// in-use handling and the access grant.
#pragma once
#include <windows.h>

// destination: a writable buffer of MAX_PATH characters, lower-cased in place.
int PlaceFile(const wchar_t* source, wchar_t* destination, int compareVersions, int includeModules32);
int PlaceFolderTree(const wchar_t* sourceFolder, const wchar_t* destinationFolder, int keepSources);
