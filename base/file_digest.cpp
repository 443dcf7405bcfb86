#include "base/file_digest.h"

#include <cstdlib>

#include "formats/sha256.h"

static_assert(kDigestTextChars == formats::Sha256::kTextChars, "64 digits and the terminator");

HANDLE OpenFileHeldForReading(const wchar_t* path)
{
    if (!path || !path[0]) return INVALID_HANDLE_VALUE;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file, &info) || info.nNumberOfLinks != 1 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(file);
        SetLastError(ERROR_CANT_ACCESS_FILE);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

bool DigestOfFile(HANDLE file, wchar_t* text)
{
    if (!text) return false;
    text[0] = L'\0';
    LARGE_INTEGER start{};
    if (file == INVALID_HANDLE_VALUE || !SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
    const DWORD kChunk = 1 << 20;
    auto* buffer = static_cast<uint8_t*>(std::malloc(kChunk));
    if (!buffer) return false;
    formats::Sha256 sha;
    DWORD got = 0;
    bool ok;
    while ((ok = ReadFile(file, buffer, kChunk, &got, nullptr) != FALSE) && got > 0) sha.Update(buffer, got);
    std::free(buffer);
    if (!ok) return false;
    uint8_t digest[formats::Sha256::kDigestBytes];
    sha.Finish(digest);
    char narrow[formats::Sha256::kTextChars];
    formats::DigestText(digest, narrow);
    for (size_t i = 0; i < formats::Sha256::kTextChars; ++i) text[i] = static_cast<wchar_t>(narrow[i]);
    return true;
}
