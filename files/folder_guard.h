// Which folders the setup may install into, and what a folder path really
// names: the system's and the users' folders are nobody's install folder,
// and a junction or symbolic link would send placements and removals to a
// folder someone else chose.
#pragma once
#include <windows.h>

// Full long-form path without trailing backslash; false when the text is not
// an absolute drive or network path.
bool NormalizeFolderPath(const wchar_t* path, wchar_t* out /* MAX_PATH */);
// The folder as the file system resolves it (links followed), in the same
// form; a part that does not exist yet is taken as written.
bool ResolveFolderPath(const wchar_t* path, wchar_t* out /* MAX_PATH */);
// Both name the same folder once resolved.
bool IsSameFolder(const wchar_t* a, const wchar_t* b);
// True when `inner` lies strictly below `outer` once both are resolved.
bool LiesStrictlyBelow(const wchar_t* inner, const wchar_t* outer);

// True when the folder, or a folder above it, is a junction, a symbolic link
// or another reparse point.
bool IsOrLiesBelowLink(const wchar_t* path);
// The final path of an open file or folder, in the form of
// NormalizeFolderPath ("\\?\" taken off).
bool FinalPathOfHandle(HANDLE item, wchar_t* out /* MAX_PATH */);

// True for a volume root, the Windows folder and everything below it, a
// folder of the system or of the users (program files, application data,
// every profile the profile list names and the profiles folder, Start menu,
// desktop, documents, the temporary folder), the engine
// family's shared data folder, and any folder that holds one of these.
bool IsGuardedFolder(const wchar_t* path);

// <CommonAppData>\ZerdaIME3, where every product of the family keeps its data.
bool FamilyDataFolder(wchar_t* out /* MAX_PATH */);

// A folder the setup may install into (from /dir=, the wizard or an earlier
// installation): absolute, not guarded, not in another account's profile
// (nor a shared one), not inside the family's data folder, on a local volume
// that keeps access lists, not reached through a link.
bool IsUsableInstallFolder(const wchar_t* path);
// Why it is not (English, for the log); null when it is.
const wchar_t* InstallFolderRefusal(const wchar_t* path);
// The volume part of that judgement: a network drive, one that cannot be
// read, or one without persistent access lists (FAT, exFAT, many NAS
// shares), on which anyone could replace what the elevated setup runs.
const wchar_t* VolumeRefusal(UINT driveType, bool informationRead, DWORD fileSystemFlags);
