// Loading the payload configuration config.dsc into the setup context.
#include "payload/config_data.h"

#include <objbase.h>

#include <cstring>

#include "base/bounded_string.h"
#include "base/shared_routines.h"

BYTE* FindConfigRecord(BYTE* image, size_t size, const char16_t* name, uint32_t* recordSize)
{
    if (recordSize) *recordSize = 0;
    if (!image || !name) return nullptr;
    formats::config::Record record = formats::config::FindRecord(formats::ByteSpan{image, size}, name);
    if (!record.found) return nullptr;
    if (recordSize) *recordSize = record.size;
    return image + record.offset;
}

BYTE* FindConfigRecord(BYTE* image, size_t size, const wchar_t* name, uint32_t* recordSize)
{
    if (recordSize) *recordSize = 0;
    if (!name) return nullptr;
    // Names are compared up to their 65 stored characters; a wanted name is
    // never read further.
    char16_t wanted[formats::config::kNameChars + 1] = {};
    for (size_t i = 0; i < formats::config::kNameChars && name[i]; ++i) wanted[i] = static_cast<char16_t>(name[i]);
    return FindConfigRecord(image, size, wanted, recordSize);
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
    if (!formats::config::TableFits(formats::ByteSpan{image, length})) {
        CloseMappedFile(file, 0);
        return false;
    }

    uint32_t size = 0;
    BYTE* product = FindConfigRecord(image, length, formats::config::kProductRecordName, &size);
    // A record larger than its space in the context counts as missing.
    if (product && size <= kProductRecordSize) std::memcpy(ctx.productRecord, product, size);

    uint32_t flags = EngineFlags(ctx) & ~kEngineFlagLoaderBits;
    BYTE* ime = FindConfigRecord(image, length, formats::config::kImeRecordName, &size);
    if (ime && size > kImeRecordSize) ime = nullptr;
    if (ime && size >= ime_field::kCapabilityWord + 4 &&
        (formats::GetLe32(ime + ime_field::kCapabilityWord) & kImeCapabilityTextService))
        flags |= kEngineFlagTextService;
    SetEngineFlags(ctx, flags);
    if (ime) std::memcpy(ctx.imeRecord, ime, size);

    CloseMappedFile(file, 0);

    GUID guid = TextServiceGuid(ctx);
    ctx.name[0] = L'\0';
    if (!StringFromGUID2(guid, ctx.name, static_cast<int>(kNameChars))) ctx.name[0] = L'\0';
    return true;
}
