#include "payload/backup_check.h"

#include <cwchar>

#include "base/bounded_string.h"
#include "base/file_digest.h"
#include "base/run_log.h"
#include "base/shared_routines.h"
#include "files/brief_hold.h"

namespace {
bool IsDigestText(const wchar_t* text)
{
    size_t n = 0;
    for (; text[n]; ++n)
        if (!iswxdigit(text[n])) return false;
    return n == kDigestTextChars - 1;
}
}  // namespace

bool CheckedBackup::Take(SetupContext& ctx)
{
    Release();
    wchar_t recorded[kDigestTextChars + 1];
    if (!ReadProductValue(ctx.name, kBackupDigestValue, recorded, kDigestTextChars + 1) || !IsDigestText(recorded)) {
        RunLog(L"The product key holds no digest of the backup archive: %s is not unpacked", ctx.archivePath);
        return false;
    }

    // The copy in the work folder is what is checked and then unpacked; the
    // backup itself may be changed or swapped meanwhile without effect.
    wchar_t copy[kPathChars];
    if (BoundedFormat(copy, kPathChars, L"%s\\makedata.zip", ctx.workFolder) >= kPathChars - 1) return false;
    DeleteFileW(copy);
    // A scanner may be looking at the backup for a moment, as at any fresh file.
    if (!RetryWhileBrieflyHeld([&] { return CopyFileW(ctx.archivePath, copy, FALSE) != FALSE; })) {
        RunLogFailure(L"The backup archive could not be copied", ctx.archivePath, GetLastError());
        return false;
    }
    held_ = OpenFileHeldForReading(copy);
    wchar_t actual[kDigestTextChars];
    if (!DigestOfFile(held_, actual)) {
        RunLogFailure(L"The backup archive could not be read", copy, GetLastError());
        Release();
        DeleteFileW(copy);
        return false;
    }
    if (_wcsicmp(actual, recorded) != 0) {
        RunLog(L"The backup archive %s is not the one the installation kept (SHA-256 %s, recorded %s): it is not unpacked",
               ctx.archivePath, actual, recorded);
        Release();
        DeleteFileW(copy);
        return false;
    }
    RunLog(L"The backup archive matches the digest recorded at installation: %s", ctx.archivePath);
    BoundedCopy(ctx.archivePath, kPathChars, copy);
    return true;
}

void CheckedBackup::Release()
{
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
}
