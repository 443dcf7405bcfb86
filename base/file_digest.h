// The SHA-256 of the installation's backup archive: written into the product
// key at installation, compared before a repair or an uninstall unpacks it.
#pragma once
#include <windows.h>
#include <cstddef>

constexpr wchar_t kBackupDigestValue[] = L"BackupSHA256";
// 64 hexadecimal digits and the terminator.
constexpr size_t kDigestTextChars = 65;

// Opens an existing plain file (not a link, one name only) for reading while
// others may only read it: nobody writes, renames or deletes it while the
// handle is held. INVALID_HANDLE_VALUE on failure.
HANDLE OpenFileHeldForReading(const wchar_t* path);
// The SHA-256 of the file's whole content, read through the handle from its
// start, as upper-case hexadecimal digits. False when it cannot be read.
bool DigestOfFile(HANDLE file, wchar_t* text /* kDigestTextChars */);
