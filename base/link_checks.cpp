#include "base/link_checks.h"

#include <cwchar>

#include "base/bounded_string.h"

namespace {

const size_t kFinalChars = MAX_PATH + 16;  // room for the "\\?\UNC\" prefix

// Drops trailing backslashes, keeping the one of a drive root.
void TrimSeparators(wchar_t* path)
{
    size_t n = wcslen(path);
    while (n > 0 && path[n - 1] == L'\\' && !(n == 3 && path[1] == L':')) path[--n] = L'\0';
}

// A file the call made, told apart from one that was there.
bool CreatedByOpen(DWORD disposition, DWORD lastError)
{
    if (disposition == CREATE_NEW) return true;
    return (disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS) && lastError != ERROR_ALREADY_EXISTS;
}

// FILE_DISPOSITION_INFO_EX and its class, newer than the headers' target.
struct DispositionEx {
    DWORD flags;
};
const FILE_INFO_BY_HANDLE_CLASS kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
const DWORD kDispositionDelete = 0x1, kDispositionPosix = 0x2;

}  // namespace

bool FinalPathOfObject(HANDLE handle, wchar_t* out)
{
    wchar_t raw[kFinalChars];
    DWORD n = GetFinalPathNameByHandleW(handle, raw, kFinalChars, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= kFinalChars) return false;
    const wchar_t* text = raw;
    wchar_t unc[kFinalChars];
    if (wcsncmp(raw, L"\\\\?\\UNC\\", 8) == 0) {
        BoundedFormat(unc, kFinalChars, L"\\\\%s", raw + 8);
        text = unc;
    } else if (wcsncmp(raw, L"\\\\?\\", 4) == 0) {
        text = raw + 4;
    }
    if (wcslen(text) >= MAX_PATH) return false;
    BoundedCopy(out, MAX_PATH, text);
    TrimSeparators(out);
    return true;
}

bool CanonicalPath(const wchar_t* path, wchar_t* out)
{
    out[0] = L'\0';
    if (!path || !path[0]) return false;
    wchar_t full[MAX_PATH];
    DWORD n = GetFullPathNameW(path, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return false;
    TrimSeparators(full);
    wchar_t longForm[MAX_PATH];
    n = GetLongPathNameW(full, longForm, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        BoundedCopy(out, MAX_PATH, longForm);
    } else {
        // Not there yet: the long form of its folder and the name as given.
        const wchar_t* name = wcsrchr(full, L'\\');
        if (!name) return false;
        wchar_t folder[MAX_PATH];
        BoundedCopyN(folder, MAX_PATH, full, static_cast<size_t>(name - full) + 1);
        n = GetLongPathNameW(folder, longForm, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) BoundedCopy(longForm, MAX_PATH, folder);
        TrimSeparators(longForm);
        size_t length = BoundedFormat(out, MAX_PATH, EndsWithBackslash(longForm) ? L"%s%s" : L"%s\\%s", longForm,
                                      name + 1);
        if (length >= MAX_PATH - 1) return false;
    }
    TrimSeparators(out);
    return out[0] != L'\0';
}

bool IsReachedDirectly(HANDLE handle, const wchar_t* path)
{
    wchar_t expected[MAX_PATH], actual[MAX_PATH];
    if (!CanonicalPath(path, expected) || !FinalPathOfObject(handle, actual)) return false;
    return CompareStringOrdinal(expected, -1, actual, -1, TRUE) == CSTR_EQUAL;
}

bool HasReparsePointOnTheWay(const wchar_t* path, bool includeLast)
{
    wchar_t full[MAX_PATH];
    if (!CanonicalPath(path, full)) return false;
    size_t length = wcslen(full);
    // From the first folder below the root ("C:\" or "\\server\share\").
    size_t start = 3;
    if (full[0] == L'\\' && full[1] == L'\\') {
        int separators = 0;
        for (start = 2; start < length && separators < 2; ++start)
            if (full[start] == L'\\') ++separators;
    }
    // The root is no link, though some systems mark a mounted volume's root.
    for (size_t i = start + 1; i <= length; ++i) {
        if (full[i] != L'\\' && full[i] != L'\0') continue;
        if (full[i] == L'\0' && !includeLast) break;
        wchar_t saved = full[i];
        full[i] = L'\0';
        DWORD attributes = GetFileAttributesW(full);
        full[i] = saved;
        if (attributes == INVALID_FILE_ATTRIBUTES) return false;  // nothing further exists
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return true;
    }
    return false;
}

HANDLE OpenDirectly(const wchar_t* path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    HANDLE handle = CreateFileW(path, access | FILE_READ_ATTRIBUTES, share, nullptr, disposition,
                                flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return handle;
    bool created = CreatedByOpen(disposition, GetLastError());
    if (IsReachedDirectly(handle, path)) return handle;
    if (created && (access & DELETE)) DeleteByHandle(handle);
    CloseHandle(handle);
    SetLastError(ERROR_STOPPED_ON_SYMLINK);
    return INVALID_HANDLE_VALUE;
}

bool DeleteByHandle(HANDLE handle)
{
    FILE_BASIC_INFO basic{};
    if (GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
        FILE_BASIC_INFO change{};  // times of 0 stay as they are
        change.FileAttributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
        if (!change.FileAttributes) change.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(handle, FileBasicInfo, &change, sizeof change);
    }
    DispositionEx posix{kDispositionDelete | kDispositionPosix};
    if (SetFileInformationByHandle(handle, kDispositionInfoEx, &posix, sizeof posix)) return true;
    FILE_DISPOSITION_INFO classic{TRUE};
    return SetFileInformationByHandle(handle, FileDispositionInfo, &classic, sizeof classic) != 0;
}

bool DeleteFileDirectly(const wchar_t* path)
{
    if (!path || !path[0]) return false;
    HANDLE file = OpenDirectly(path, DELETE | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               OPEN_EXISTING, 0);
    if (file == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    bool deleted = GetFileInformationByHandle(file, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                   DeleteByHandle(file);
    DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return deleted;
}

bool IsFileInsideFolder(const wchar_t* path, const wchar_t* folder)
{
    wchar_t file[MAX_PATH], base[MAX_PATH];
    if (!CanonicalPath(path, file) || !CanonicalPath(folder, base)) return false;
    size_t baseLength = wcslen(base);
    if (baseLength > 0 && base[baseLength - 1] == L'\\') --baseLength;  // a drive root
    if (wcslen(file) <= baseLength + 1 || file[baseLength] != L'\\' ||
        CompareStringOrdinal(file, static_cast<int>(baseLength), base, static_cast<int>(baseLength), TRUE) !=
            CSTR_EQUAL)
        return false;
    DWORD attributes = GetFileAttributesW(file);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !HasReparsePointOnTheWay(file, true);
}
