// The payload configuration config.dsc: a count, a table of record offsets and
// the records, each with a size, a kind and a UTF-16 name in its header.
#include "payload/config_data.h"

#include <objbase.h>

#include <cstring>

#include "base/bounded_string.h"
#include "base/shared_routines.h"

namespace {

constexpr size_t kRecordHeaderSize = 136;
constexpr size_t kRecordNameOffset = 6;
constexpr size_t kRecordNameChars = 65;  // 130 bytes

uint32_t ReadLe32(const BYTE* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

wchar_t FoldAscii(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c; }

// The stored name is read in place, at most its 65 characters; a name without
// its terminator inside the header never matches.
bool RecordNameEquals(const BYTE* record, const wchar_t* wanted)
{
    const BYTE* p = record + kRecordNameOffset;
    for (size_t i = 0; i < kRecordNameChars; ++i) {
        wchar_t stored = static_cast<wchar_t>(p[2 * i] | (p[2 * i + 1] << 8));
        if (FoldAscii(stored) != FoldAscii(wanted[i])) return false;
        if (stored == L'\0') return true;
    }
    return false;
}

}  // namespace

BYTE* FindConfigRecord(BYTE* image, size_t size, const wchar_t* name, uint32_t* recordSize)
{
    if (recordSize) *recordSize = 0;
    if (!image || !name || size < 4) return nullptr;
    uint32_t count = ReadLe32(image) & 0xFF;
    if (4 + 4 * static_cast<size_t>(count) > size) return nullptr;
    for (uint32_t i = 0; i < count; ++i) {
        size_t offset = ReadLe32(image + 4 + 4 * i);
        if (offset > size || size - offset < kRecordHeaderSize) continue;
        int32_t signedSize = static_cast<int32_t>(ReadLe32(image + offset));
        if (signedSize < static_cast<int32_t>(kRecordHeaderSize)) continue;
        if (static_cast<size_t>(signedSize) > size - offset) continue;
        if (!RecordNameEquals(image + offset, name)) continue;
        if (recordSize) *recordSize = static_cast<uint32_t>(signedSize);
        return image + offset;
    }
    return nullptr;
}

bool LoadPayloadConfig(SetupContext& ctx)
{
    wchar_t path[kPathChars];
    BoundedFormat(path, kPathChars, L"%s\\$dataFiles$\\config.dsc", ctx.payloadFolder);
    if (!PathExists(path)) return false;

    MappedFile* file = nullptr;
    if (!OpenMappedFile(path, false, &file) || !file) return false;
    // The read-into-memory fallback carries 10 zero bytes beyond the file.
    size_t length = file->size;
    if (!file->file) length = length >= 10 ? length - 10 : 0;
    BYTE* image = file->data;
    if (length < 4 || 4 + 4 * static_cast<size_t>(image[0]) > length) {
        CloseMappedFile(file, 0);
        return false;
    }

    uint32_t size = 0;
    BYTE* product = FindConfigRecord(image, length, L"zd_soft_config_data_default", &size);
    // A record larger than its space in the context counts as missing.
    if (product && size <= kProductRecordSize) std::memcpy(ctx.productRecord, product, size);

    uint32_t flags = EngineFlags(ctx) & ~kEngineFlagLoaderBits;
    BYTE* ime = FindConfigRecord(image, length, L"zd_ime_config_data_default", &size);
    if (ime && size > kImeRecordSize) ime = nullptr;
    if (ime && size >= ime_field::kCapabilityWord + 4 &&
        (ReadLe32(ime + ime_field::kCapabilityWord) & kImeCapabilityTextService))
        flags |= kEngineFlagTextService;
    SetEngineFlags(ctx, flags);
    if (ime) std::memcpy(ctx.imeRecord, ime, size);

    CloseMappedFile(file, 0);

    GUID guid = TextServiceGuid(ctx);
    ctx.name[0] = L'\0';
    if (!StringFromGUID2(guid, ctx.name, static_cast<int>(kNameChars))) ctx.name[0] = L'\0';
    return true;
}
