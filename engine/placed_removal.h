// Removing what the setup placed, by its record: files, then folders once
// nothing else is left in them. Whatever else is found there stays and is
// named in the log.
#pragma once
#include <windows.h>

#include <vector>

#include "base/placed_record.h"

// The product's record; for an installation by an earlier setup, which kept
// none, what every installation places in the install folder (installer.exe,
// the backup, config.exe, main.chm and the folder itself) and the names of
// the payload unpacked from a backup that matched its digest (payloadFolder;
// empty: none). False in that case.
bool LoadRemovalRecord(const wchar_t* name, const wchar_t* installFolder, const wchar_t* payloadFolder,
                       std::vector<PlacedItem>& items);

// True when the record names path (a folder with its trailing backslash).
bool RecordNames(const std::vector<PlacedItem>& items, const wchar_t* path);

// Deletes a placed file: a link at its end goes itself, a path through a
// link is refused, a file a program holds goes at the next restart. True
// when nothing is left at path.
bool RemovePlacedFile(const wchar_t* path, int modules32);

// Removes the folder when nothing is left in it; otherwise names in the log
// what the record does not name. A folder left only with files that go at the
// next restart goes then too. Never a folder of the system or of the users.
void RemoveFolderWhenEmpty(const wchar_t* folder, const std::vector<PlacedItem>& items);

// The record's files below folder (ending with a backslash; fonts never),
// then its folders there, deepest first, each when empty. keepFile: a file
// that stays (null: none); keepRoot: folder itself stays.
void RemovePlacedBelow(const std::vector<PlacedItem>& items, const wchar_t* folder, const wchar_t* keepFile,
                       bool keepRoot);
