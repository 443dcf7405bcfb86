// Routines that many parts of the setup share: the product-key readers, the
// folder routines, the mapped files and the driver-path composers.
#pragma once
#include <windows.h>
#include <cstddef>

struct SetupContext;

// --- product key Software\ZerdaIME3\<name> under HKEY_LOCAL_MACHINE ---
bool ReadProductValue(const wchar_t* name, const wchar_t* valueName, wchar_t* buffer, size_t capacity);
// Software\ZerdaIME3\<name> is there (whatever values it holds).
bool ProductKeyExists(const wchar_t* name);
bool ReadInstallLocation(const wchar_t* name, wchar_t* buffer /* 260 */);
bool ReadDataLocation(const wchar_t* name, wchar_t* buffer /* 260 */);
bool ReadImeNameValue(const wchar_t* name, wchar_t* buffer, size_t capacity);
WORD ReadLangId(const wchar_t* name);
// The companion tool's uninstall command as the install recorded it.
constexpr wchar_t kToolUninstallValue[] = L"ToolUninstallCommand";

// Takes the companion tool's uninstall command from the product key, as the
// install recorded it; false (the command as it was) for an install by an
// earlier setup, which recorded none.
bool UseRecordedToolCommand(SetupContext& c);
// What an uninstall needs of the product when its backup is not used, from
// the product key: the display, IME and language names, the version, the
// language, the text service (the product key name) and the tool's command.
void LoadRecordedProduct(SetupContext& c);

// --- folders ---
int CreateFolderPath(const wchar_t* path);
// Removes the folder with everything below it through the Windows API. A
// junction or symbolic link inside goes itself, never its target; a folder
// with a link on the way to it is left alone (0), as is one that is not there.
int RemoveFolderTree(const wchar_t* path);
int ComposeDataFolder(wchar_t* buffer /* 260, holds the base */, const wchar_t* name);
size_t JoinTempPath(const wchar_t* name, wchar_t* buffer /* 260 */);
// <Windows folder>\Temp\ of the machine, not of the account: no standard
// user can rename it or make it lead elsewhere. 0 (and empty) when unknown.
size_t ComposeSystemTempFolder(wchar_t* buffer /* 260 */);
bool FolderExists(const wchar_t* path);
// Calls visit for each entry that the search pattern ("<folder>\\*") lists,
// "." and ".." aside, with its name terminated.
void ForEachListedEntry(const wchar_t* pattern, void (*visit)(const WIN32_FIND_DATAW& entry, void* context),
                        void* context);
bool PathExists(const wchar_t* path);
// A full path from a drive ("C:\\...") or a share ("\\\\server\\share\\..."): never
// resolved against the current folder or drive.
bool IsAbsolutePath(const wchar_t* path);

// --- driver paths ---
int GetSystemImePath(const wchar_t* imeName, wchar_t* buffer /* 260 */);
int GetWow64ImePath(const wchar_t* imeName, wchar_t* buffer /* 260 */);

// --- mapped files ---
struct MappedFile {
    DWORD size;            // view length; in the fallback the buffer's (file + 10)
    wchar_t path[MAX_PATH];
    HANDLE file;           // null in the fallback
    HANDLE mapping;        // null in the fallback
    BYTE* data;
};

// Result: the size for a mapped view, 1 for the read-into-memory fallback, 0
// on failure (then *record is null).
DWORD OpenMappedFile(const wchar_t* path, bool writable, MappedFile** record);
// Result: size, or 0 on failure (then *record is null).
DWORD CreateMappedFile(const wchar_t* path, DWORD size, MappedFile** record);
void CloseMappedFile(MappedFile* record, int flush);
// A read-only view (or, as above, a copy) of a file the caller holds open and
// keeps: closing the record leaves the file open. Result as OpenMappedFile.
DWORD MapOpenFile(HANDLE file, MappedFile** record);
