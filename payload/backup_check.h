// The backup a repair or an uninstall unpacks is the archive the
// installation kept, byte for byte: any user could otherwise hand the
// elevated setup a payload of their own.
#pragma once
#include <windows.h>

#include "base/setup_context.h"

class CheckedBackup {
public:
    CheckedBackup() = default;
    CheckedBackup(const CheckedBackup&) = delete;
    CheckedBackup& operator=(const CheckedBackup&) = delete;
    ~CheckedBackup() { Release(); }

    // Copies the backup (the archive path) into the work folder, holds the
    // copy against changes and compares its SHA-256 with the digest in the
    // product key. On success the archive path names the held copy; false
    // (and logged) when the key holds no digest or the copy differs.
    bool Take(SetupContext& ctx);
    // Lets the copy go; once it is unpacked.
    void Release();

private:
    HANDLE held_ = INVALID_HANDLE_VALUE;
};
