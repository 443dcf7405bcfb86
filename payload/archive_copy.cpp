#include "payload/archive_copy.h"

#include <cwchar>

#include "base/bounded_string.h"
#include "base/file_digest.h"
#include "payload/archive.h"
#include "payload/worker_threads.h"

namespace {

struct ArchiveCopy {
    MappedFile* image;
    DWORD offset;
    DWORD size;
    wchar_t path[MAX_PATH];
    HANDLE file;
    bool written;
    bool hashed;
    wchar_t digest[kDigestTextChars];
};

ArchiveCopy g_copy{};
bool g_started = false;
WorkerThreads g_writer{};

DWORD WINAPI WriteCopy(void*)
{
    ArchiveCopy& copy = g_copy;
    HANDLE written = CreateFileWithBytes(copy.path, copy.image->data + copy.offset, copy.size);
    CloseMappedFile(copy.image, 0);
    copy.image = nullptr;
    if (written == INVALID_HANDLE_VALUE) return 0;
    CloseHandle(written);
    // Held for reading from here on, and its digest taken from what it holds.
    copy.file = OpenFileHeldForReading(copy.path);
    copy.written = copy.file != INVALID_HANDLE_VALUE;
    copy.hashed = copy.written && DigestOfFile(copy.file, copy.digest);
    return 0;
}

bool HasRoomFor(const wchar_t* path, DWORD size)
{
    wchar_t folder[MAX_PATH];
    BoundedCopy(folder, MAX_PATH, path);
    wchar_t* name = wcsrchr(folder, L'\\');
    if (!name) return false;
    name[1] = L'\0';
    ULARGE_INTEGER available{};
    return GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr) && available.QuadPart > size;
}

}  // namespace

bool StartArchiveCopy(MappedFile* image, DWORD offset, DWORD size, const wchar_t* path)
{
    FinishArchiveCopy(nullptr);
    if (!image || !path || !path[0]) {
        CloseMappedFile(image, 0);
        return false;
    }
    g_copy = ArchiveCopy{image, offset, size, L"", INVALID_HANDLE_VALUE, false, false, L""};
    BoundedCopy(g_copy.path, MAX_PATH, path);
    g_started = true;
    // A volume without room for it fails the copy now, before anything of
    // the payload is placed; otherwise the copy is written meanwhile.
    if (HasRoomFor(g_copy.path, size) && StartWorkerThreads(g_writer, 1, WriteCopy, nullptr) == 1) return true;
    WriteCopy(nullptr);
    return g_copy.written;
}

bool WaitForArchiveCopy()
{
    JoinWorkerThreads(g_writer);
    return g_started && g_copy.written;
}

bool FinishArchiveCopy(wchar_t* digest)
{
    bool written = WaitForArchiveCopy();
    if (!g_started) return false;
    g_started = false;
    if (g_copy.file != INVALID_HANDLE_VALUE) CloseHandle(g_copy.file);
    g_copy.file = INVALID_HANDLE_VALUE;
    if (!digest) return written;
    if (!written || !g_copy.hashed) return false;
    BoundedCopy(digest, kDigestTextChars, g_copy.digest);
    return true;
}
