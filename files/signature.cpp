#include "files/signature.h"

#include <cstring>

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
    if (!read || got < 0x40 || head[0] != 'M' || head[1] != 'Z') return false;
    DWORD pe = 0;
    std::memcpy(&pe, head + 0x3C, 4);
    if (pe > got || got - pe < 24 + 2 || std::memcmp(head + pe, "PE\0\0", 4) != 0) return false;
    const DWORD optional = pe + 24;
    WORD magic = static_cast<WORD>(head[optional] | (head[optional + 1] << 8));
    // Data directories follow the optional header's fixed part: 96 bytes in
    // PE32, 112 in PE32+; the certificate table is the fifth.
    DWORD directories = magic == 0x20B ? optional + 112 : magic == 0x10B ? optional + 96 : 0;
    if (!directories || got < directories + 5 * 8) return false;
    DWORD count = 0, size = 0;
    std::memcpy(&count, head + directories - 4, 4);
    std::memcpy(&size, head + directories + 4 * 8 + 4, 4);
    return count >= 5 && size != 0;
}
