// Files as memory: a mapped view, or the whole file read into memory when the
// file cannot be mapped (an empty file, for one).
#include "base/bounded_string.h"
#include "base/shared_routines.h"

namespace {

MappedFile* NewRecord()
{
    return static_cast<MappedFile*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(MappedFile)));
}

void FreeRecord(MappedFile* record)
{
    if (record) HeapFree(GetProcessHeap(), 0, record);
}

// Reads the whole file behind handle into a zero-filled buffer 10 bytes
// longer than the file.
DWORD ReadWhole(HANDLE file, const wchar_t* path, MappedFile** out)
{
    MappedFile* record = NewRecord();
    if (!record) return 0;
    DWORD high = 0;
    DWORD length = GetFileSize(file, &high);
    if ((length == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) || high != 0 || length > 0x7FFFFFF0u) {
        FreeRecord(record);
        return 0;
    }
    DWORD bufferLength = length + 10;
    BYTE* buffer = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, bufferLength));
    DWORD read = 0;
    OVERLAPPED start{};  // from the first byte, wherever the file pointer stands
    // With a position given, a read that starts at the end reports the end.
    bool ok = buffer && (ReadFile(file, buffer, bufferLength - 2, &read, &start) || GetLastError() == ERROR_HANDLE_EOF);
    if (!ok) {
        if (buffer) HeapFree(GetProcessHeap(), 0, buffer);
        FreeRecord(record);
        return 0;
    }
    record->size = bufferLength;
    record->data = buffer;
    BoundedCopy(record->path, MAX_PATH, path);
    *out = record;
    return 1;
}

DWORD OpenFallback(const wchar_t* path, MappedFile** out)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD result = ReadWhole(file, path, out);
    CloseHandle(file);
    return result;
}

}  // namespace

DWORD OpenMappedFile(const wchar_t* path, bool writable, MappedFile** out)
{
    if (!out) return 0;
    *out = nullptr;
    if (!path || !path[0]) return 0;
    MappedFile* record = NewRecord();
    if (!record) return 0;
    record->file = CreateFileW(path, writable ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                               writable ? FILE_SHARE_READ | FILE_SHARE_WRITE : FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (record->file != INVALID_HANDLE_VALUE) {
        record->size = GetFileSize(record->file, nullptr);
        if (record->size != INVALID_FILE_SIZE)
            record->mapping = CreateFileMappingW(record->file, nullptr, writable ? PAGE_READWRITE : PAGE_READONLY,
                                                 0, record->size, nullptr);
        if (record->mapping)
            record->data = static_cast<BYTE*>(
                MapViewOfFile(record->mapping, writable ? FILE_MAP_READ | FILE_MAP_WRITE : FILE_MAP_READ, 0, 0, 0));
        if (record->data) {
            BoundedCopy(record->path, MAX_PATH, path);
            *out = record;
            return record->size;
        }
    }
    if (record->mapping) CloseHandle(record->mapping);
    if (record->file && record->file != INVALID_HANDLE_VALUE) CloseHandle(record->file);
    FreeRecord(record);
    // The fallback is a private copy: writes to it never reach the file.
    return OpenFallback(path, out);
}

DWORD CreateMappedFile(const wchar_t* path, DWORD size, MappedFile** out)
{
    if (!out) return 0;
    *out = nullptr;
    MappedFile* record = NewRecord();
    if (!record) return 0;
    record->file = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    bool ok = record->file != INVALID_HANDLE_VALUE;
    if (ok) {
        LARGE_INTEGER distance;
        distance.QuadPart = size;
        ok = SetFilePointerEx(record->file, distance, nullptr, FILE_BEGIN) && SetEndOfFile(record->file);
    }
    if (ok) {
        record->mapping = CreateFileMappingW(record->file, nullptr, PAGE_READWRITE, 0, size, nullptr);
        ok = record->mapping != nullptr;
    }
    if (ok) {
        record->data = static_cast<BYTE*>(MapViewOfFile(record->mapping, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0));
        ok = record->data != nullptr;
    }
    if (!ok) {
        if (record->mapping) CloseHandle(record->mapping);
        if (record->file != INVALID_HANDLE_VALUE) CloseHandle(record->file);
        FreeRecord(record);
        return 0;
    }
    record->size = size;
    BoundedCopy(record->path, MAX_PATH, path);
    *out = record;
    return size;
}

void CloseMappedFile(MappedFile* record, int flush)
{
    if (!record) return;
    if (record->mapping) {
        if (flush > 0 && record->data) FlushViewOfFile(record->data, record->size);
        if (record->data) UnmapViewOfFile(record->data);
        CloseHandle(record->mapping);
        if (record->file && record->file != INVALID_HANDLE_VALUE) CloseHandle(record->file);
    } else if (record->data) {
        HeapFree(GetProcessHeap(), 0, record->data);
    }
    ZeroMemory(record, sizeof *record);
    FreeRecord(record);
}

DWORD MapOpenFile(HANDLE file, MappedFile** out)
{
    if (!out) return 0;
    *out = nullptr;
    if (!file || file == INVALID_HANDLE_VALUE) return 0;
    MappedFile* record = NewRecord();
    if (!record) return 0;
    // The record's file handle stays null: the caller keeps the file open.
    DWORD high = 0;
    record->size = GetFileSize(file, &high);
    if (record->size != INVALID_FILE_SIZE && high == 0 && record->size > 0)
        record->mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, record->size, nullptr);
    if (record->mapping)
        record->data = static_cast<BYTE*>(MapViewOfFile(record->mapping, FILE_MAP_READ, 0, 0, 0));
    if (record->data) {
        *out = record;
        return record->size;
    }
    if (record->mapping) CloseHandle(record->mapping);
    FreeRecord(record);
    return ReadWhole(file, L"", out);
}
