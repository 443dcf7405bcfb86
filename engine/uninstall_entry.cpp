// The entry in the system's list of installed programs and the payload backup.
#include "engine/uninstall_entry.h"

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <initializer_list>

#include "base/bounded_string.h"
#include "base/file_digest.h"
#include "base/run_log.h"
#include "base/shared_routines.h"
#include "base/setup_context.h"
#include "engine/registration_common.h"
#include "files/place.h"
#include "payload/archive_copy.h"
#include "platform/registry.h"

namespace {
const wchar_t kUninstallList[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// A field of the configuration record, cut to its capacity even when the
// record carries no terminator there.
LONG WriteField(HKEY key, const wchar_t* valueName, const wchar_t* field, size_t capacity)
{
    wchar_t text[kHelpLinkChars];
    BoundedCopyN(text, kHelpLinkChars, field, capacity - 1);
    return RegWriteString(key, valueName, text);
}
}  // namespace

bool WriteUninstallEntry(const wchar_t* owner, const wchar_t* organisation)
{
    SetupContext& c = g_setup;
    // Without the entry the product is installed but no deployment tool
    // finds it, and Settings cannot remove it: that is a failed install.
    // An empty name would write the values onto the list itself.
    if (!ParseProductKeyName(c.name, nullptr)) {
        RunLog(L"FAILED: The uninstall entry could not be written: no product key name: %s", c.name);
        return false;
    }
    HKEY list = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallList, 0, KEY_ALL_ACCESS, &list);
    if (rc != ERROR_SUCCESS) {
        RunLogFailure(L"The uninstall entry could not be written", kUninstallList, static_cast<DWORD>(rc));
        return false;
    }

    wchar_t subKey[40];
    BoundedFormat(subKey, 40, L"%s", c.name);
    HKEY entry = nullptr;
    rc = RegCreateKeyExW(list, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &entry, nullptr);
    RegCloseKey(list);
    if (rc != ERROR_SUCCESS) {
        RunLogFailure(L"The uninstall entry could not be written", subKey, static_cast<DWORD>(rc));
        return false;
    }

    wchar_t programPath[MAX_PATH];
    BoundedFormat(programPath, MAX_PATH, L"%sinstaller.exe", c.installFolder);

    wchar_t helpLink[MAX_PATH + kHelpLinkChars];
    if (HelpLink(c)[0]) BoundedCopyN(helpLink, sizeof helpLink / sizeof helpLink[0], HelpLink(c), kHelpLinkChars - 1);
    else BoundedFormat(helpLink, sizeof helpLink / sizeof helpLink[0], L"%smain.chm", c.installFolder);

    // The program path is quoted: below "Program Files" the system would
    // otherwise split the command at the first blank.
    wchar_t command[MAX_PATH + 64], repair[MAX_PATH + 64], quietCommand[MAX_PATH + 64];
    BoundedFormat(command, MAX_PATH + 64, L"\"%s\" /n %s /u", programPath, c.name);
    // Settings' Modify repairs; it never uninstalls.
    BoundedFormat(repair, MAX_PATH + 64, L"\"%s\" /n %s /r", programPath, c.name);
    // For deployment tools: the same uninstall without any window.
    BoundedFormat(quietCommand, MAX_PATH + 64, L"\"%s\" /n %s /u /quiet", programPath, c.name);

    // "file=<path>]" forms name the source inside a bracketed text.
    const wchar_t* source = c.plainInstallerPath;
    if (wchar_t* found = wcsstr(c.plainInstallerPath, L"file=")) {
        source = found + 5;
        if (wchar_t* close = wcschr(found, L']')) *close = L'\0';
    }

    const LONG results[] = {
        RegWriteString(entry, L"RegOwner", owner),
        RegWriteString(entry, L"RegCompany", organisation),
        WriteField(entry, L"DisplayName", DisplayName(c), kDisplayNameChars),
        WriteField(entry, L"Comments", Comments(c), kCommentsChars),
        WriteField(entry, L"DisplayVersion", DisplayVersion(c), kDisplayVersionChars),
        RegWriteString(entry, L"DisplayIcon", programPath),
        WriteField(entry, L"Contact", Contact(c), kContactChars),
        WriteField(entry, L"Publisher", Publisher(c), kPublisherChars),
        WriteField(entry, L"URLInfoAbout", AboutAddress(c), kAboutAddressChars),
        WriteField(entry, L"URLUpdateInfo", UpdateAddress(c), kUpdateAddressChars),
        RegWriteString(entry, L"HelpLink", helpLink),
        WriteField(entry, L"HelpTelephone", HelpTelephone(c), kHelpTelephoneChars),
        RegWriteString(entry, L"UninstallString", command),
        RegWriteString(entry, L"InstallLocation", c.installFolder),
        RegWriteString(entry, L"InstallSource", source),
        RegWriteString(entry, L"ModifyPath", repair),
        RegWriteString(entry, L"QuietUninstallString", quietCommand),
    };
    RegCloseKey(entry);
    for (LONG result : results) {
        if (result != ERROR_SUCCESS) {
            RunLogFailure(L"A value of the uninstall entry could not be written", subKey, static_cast<DWORD>(result));
            return false;
        }
    }
    RunLog(L"Registry key written: HKEY_LOCAL_MACHINE\\%s\\%s", kUninstallList, subKey);
    return true;
}

namespace {
// Bytes of the files below a folder (ending with a backslash).
uint64_t FolderBytes(const wchar_t* folder, int depth = 0)
{
    if (!folder[0] || depth > 16) return 0;
    wchar_t pattern[MAX_PATH];
    if (BoundedFormat(pattern, MAX_PATH, L"%s*", folder) >= MAX_PATH - 1) return 0;
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW(pattern, &entry);
    if (listing == INVALID_HANDLE_VALUE) return 0;
    uint64_t total = 0;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0) continue;
            wchar_t below[MAX_PATH];
            if (BoundedFormat(below, MAX_PATH, L"%s%s\\", folder, entry.cFileName) < MAX_PATH - 1)
                total += FolderBytes(below, depth + 1);
        } else {
            total += (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
        }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
    return total;
}

uint64_t FileBytes(const wchar_t* path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
}  // namespace

void WriteEstimatedSize()
{
    SetupContext& c = g_setup;
    uint64_t bytes = FolderBytes(c.installFolder) + FolderBytes(c.dataFolder);
    wchar_t imeName[kImeNameChars];
    BoundedCopyN(imeName, kImeNameChars, ImeName(c), kImeNameChars - 1);
    wchar_t driver[MAX_PATH];
    if (imeName[0] && GetSystemImePath(imeName, driver)) bytes += FileBytes(driver);
    if (imeName[0] && GetWow64ImePath(imeName, driver)) bytes += FileBytes(driver);

    wchar_t subKey[128];
    BoundedFormat(subKey, 128, L"%s\\%s", kUninstallList, c.name);
    HKEY entry = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey, 0, KEY_SET_VALUE, &entry) != ERROR_SUCCESS) return;
    RegWriteDword(entry, L"EstimatedSize", static_cast<DWORD>((bytes + 1023) / 1024));
    RegCloseKey(entry);
}

namespace {
// Both views, as every value of the product key.
bool WriteBackupDigest(const wchar_t* name, const wchar_t* digest)
{
    bool written = ParseProductKeyName(name, nullptr);
    for (const wchar_t* format : {L"Software\\ZerdaIME3\\%s", L"Software\\Wow6432Node\\ZerdaIME3\\%s"}) {
        wchar_t path[128];
        BoundedFormat(path, 128, format, name);
        HKEY key = nullptr;
        LONG rc = written ? RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_SET_VALUE, &key) : ERROR_INVALID_PARAMETER;
        if (rc == ERROR_SUCCESS) {
            rc = RegWriteString(key, kBackupDigestValue, digest);
            RegCloseKey(key);
        }
        if (rc != ERROR_SUCCESS) {
            RunLogFailure(L"The backup's digest was not written", path, static_cast<DWORD>(rc));
            written = false;
        }
    }
    return written;
}
}  // namespace

bool BackUpInstallation()
{
    SetupContext& c = g_setup;
    wchar_t backup[MAX_PATH];
    BoundedFormat(backup, MAX_PATH, L"%s_backup_.dat", c.installFolder);
    // The copy written from the own image and held since, its digest read
    // through that hold; let go here, it goes into place as it is.
    wchar_t digest[kDigestTextChars];
    const bool copied = FinishArchiveCopy(digest);
    // The archive is written once: moved into place where it can be.
    if (!PlaceFileByMove(c.archivePath, backup, 1, 0)) return false;
    // The digest of the bytes placed, read while nobody could change them:
    // the copy's own when it was moved (its name gone from the work folder).
    bool hashed = copied && GetFileAttributesW(c.archivePath) == INVALID_FILE_ATTRIBUTES;
    DWORD hashError = ERROR_SUCCESS;
    if (!hashed) {
        HANDLE placed = OpenFileHeldForReading(backup);
        hashed = DigestOfFile(placed, digest);
        hashError = GetLastError();
        if (placed != INVALID_HANDLE_VALUE) CloseHandle(placed);
    }
    // A backup without its digest could never be used: repair and uninstall
    // refuse it.
    if (!hashed) {
        RunLogFailure(L"The backup could not be read for its digest", backup, hashError);
        return false;
    }
    if (!WriteBackupDigest(c.name, digest)) return false;
    DeleteFileW(c.archivePath);
    return true;
}
