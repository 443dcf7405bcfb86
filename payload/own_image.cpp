#include "payload/own_image.h"

#include <cstddef>
#include <cstring>

namespace {

HANDLE g_ownFile = nullptr;

// The headers of the running image: at most this much is compared.
const DWORD kMaxHeaderBytes = 64 * 1024;

}  // namespace

bool HoldOwnFile(const wchar_t* path)
{
    ReleaseOwnFile();
    if (!path || !path[0]) return false;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    g_ownFile = file;
    return true;
}

HANDLE HeldOwnFile() { return g_ownFile; }

void ReleaseOwnFile()
{
    if (g_ownFile) CloseHandle(g_ownFile);
    g_ownFile = nullptr;
}

bool IsRunningImage(HANDLE file)
{
    const BYTE* image = reinterpret_cast<const BYTE*>(GetModuleHandleW(nullptr));
    if (!image || !file || file == INVALID_HANDLE_VALUE) return false;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 ||
        static_cast<DWORD>(dos->e_lfanew) > kMaxHeaderBytes - sizeof(IMAGE_NT_HEADERS64))
        return false;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) return false;
    const DWORD headerBytes = nt->OptionalHeader.SizeOfHeaders;
    const DWORD imageBaseAt = static_cast<DWORD>(dos->e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                              offsetof(IMAGE_OPTIONAL_HEADER64, ImageBase);
    if (headerBytes < imageBaseAt + sizeof(ULONGLONG) || headerBytes > kMaxHeaderBytes) return false;

    BYTE* onDisk = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, headerBytes));
    if (!onDisk) return false;
    DWORD read = 0;
    OVERLAPPED start{};  // from the first byte
    bool same = ReadFile(file, onDisk, headerBytes, &read, &start) && read == headerBytes;
    if (same) {
        // The loader writes the address it chose into the image base field.
        std::memcpy(onDisk + imageBaseAt, image + imageBaseAt, sizeof(ULONGLONG));
        same = std::memcmp(onDisk, image, headerBytes) == 0;
    }
    HeapFree(GetProcessHeap(), 0, onDisk);
    return same;
}
