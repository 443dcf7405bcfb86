#include "app/protected_copy.h"

#include "app/admin_only_security.h"

namespace {

bool CopyContents(HANDLE from, HANDLE to)
{
    static const DWORD kChunk = 64 * 1024;
    BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, kChunk));
    if (!buffer) return false;
    bool ok = true;
    for (;;) {
        DWORD read = 0, written = 0;
        if (!ReadFile(from, buffer, kChunk, &read, nullptr)) {
            ok = false;
            break;
        }
        if (read == 0) break;
        if (!WriteFile(to, buffer, read, &written, nullptr) || written != read) {
            ok = false;
            break;
        }
    }
    DWORD error = GetLastError();
    HeapFree(GetProcessHeap(), 0, buffer);
    SetLastError(error);
    return ok && FlushFileBuffers(to);
}

}  // namespace

HeldCopy::HeldCopy(const wchar_t* source, const wchar_t* destination)
{
    if (!source || !source[0] || !destination || !destination[0]) {
        SetLastError(ERROR_INVALID_NAME);
        return;
    }
    HANDLE from = CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (from == INVALID_HANDLE_VALUE) return;

    // A file left there (or planted) keeps its own access list when it is
    // overwritten, so it goes first; a new one is made with ours. If someone
    // makes the name again in between, the creation fails: no copy, no start.
    DeleteFileW(destination);
    AdminOnlySecurity security(false);
    HANDLE to = security.Attributes()
                    ? CreateFileW(destination, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, security.Attributes(),
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)
                    : INVALID_HANDLE_VALUE;
    if (to == INVALID_HANDLE_VALUE) {
        DWORD error = security.Attributes() ? GetLastError() : ERROR_INVALID_SECURITY_DESCR;
        CloseHandle(from);
        SetLastError(error);
        return;
    }
    bool copied = CopyContents(from, to);
    DWORD error = GetLastError();
    CloseHandle(from);
    if (copied) {
        // The program loader opens the file for reading and refuses a file
        // that someone has open for writing, so the writing handle must go.
        // The reading handle is opened first (it has to allow that writer),
        // so the name is never free: without delete sharing nobody can
        // delete or rename the copy, and the access list keeps unelevated
        // writers out.
        held_ = CreateFileW(destination, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            0, nullptr);
        error = GetLastError();
    }
    CloseHandle(to);
    if (!Written()) {
        DeleteFileW(destination);
        SetLastError(error);
    }
}

HeldCopy::~HeldCopy() { Release(); }

void HeldCopy::Release()
{
    if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
    held_ = INVALID_HANDLE_VALUE;
}
