#include "formats/config_layout.h"

namespace formats {
namespace config {
namespace {

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool NameEquals(const uint8_t* record, const char16_t* wanted)
{
    const uint8_t* p = record + kNameOffset;
    for (size_t i = 0; i < kNameChars; ++i) {
        char16_t stored = GetLe16(p + 2 * i);
        if (FoldAscii(stored) != FoldAscii(wanted[i])) return false;
        if (stored == 0) return true;
    }
    return false;
}

}  // namespace

bool TableFits(ByteSpan image)
{
    if (!image.data || image.size < kTableOffset) return false;
    size_t count = GetLe32(image.data) & kCountMask;
    return Fits(image.size, kTableOffset, 4 * count);
}

Record FindRecord(ByteSpan image, const char16_t* name)
{
    Record found;
    if (!name || !TableFits(image)) return found;
    uint32_t count = GetLe32(image.data) & kCountMask;
    for (uint32_t i = 0; i < count; ++i) {
        size_t offset = GetLe32(image.data + kTableOffset + 4 * i);
        if (!Fits(image.size, offset, kRecordHeaderSize)) continue;
        int32_t size = static_cast<int32_t>(GetLe32(image.data + offset));
        if (size < static_cast<int32_t>(kRecordHeaderSize)) continue;
        if (static_cast<size_t>(size) > image.size - offset) continue;
        if (!NameEquals(image.data + offset, name)) continue;
        found.offset = offset;
        found.size = static_cast<uint32_t>(size);
        found.found = true;
        return found;
    }
    return found;
}

const char* LoadProblem(ByteSpan image)
{
    if (!TableFits(image)) return "too short for its record count and offset table";
    Record product = FindRecord(image, kProductRecordName);
    // The setup takes a record larger than its copy in memory for missing.
    if (!product.found || product.size > kProductRecordSize)
        return "no record \"zd_soft_config_data_default\" the setup can read (missing, cut or too large)";
    Record ime = FindRecord(image, kImeRecordName);
    if (!ime.found || ime.size > kImeRecordSize)
        return "no record \"zd_ime_config_data_default\" the setup can read (missing, cut or too large)";
    if (ime.size < ime_field::kCapabilityWord + 4) return "the IME record ends before its capability word";
    // The drivers and the data folder are named after the IME name.
    using namespace product_field;
    if (product.size < kImeName + 2 * kImeNameChars) return "the product record ends before the IME name";
    const uint8_t* imeName = image.data + product.offset + kImeName;
    if (GetLe16(imeName) == 0) return "the IME name is empty";
    for (size_t i = 0; i < kImeNameChars; ++i)
        if (GetLe16(imeName + 2 * i) == 0) return nullptr;
    return "the IME name has no terminator in its slot";
}

}  // namespace config
}  // namespace formats
