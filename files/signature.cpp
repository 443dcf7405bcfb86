#include "files/signature.h"

#include "formats/setup_image.h"

bool CarriesSignature(const wchar_t* file)
{
    if (!file || !file[0]) return false;
    HANDLE handle = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    // The headers sit in the first page of any file the linkers here write.
    BYTE head[4096];
    DWORD got = 0;
    BOOL read = ReadFile(handle, head, sizeof head, &got, nullptr);
    CloseHandle(handle);
    if (!read) return false;
    formats::image::HeaderFields fields;
    if (!formats::image::FindHeaderFields(formats::ByteSpan{head, got}, fields)) return false;
    return formats::GetLe32(head + fields.certEntryAt + 4) != 0;
}
