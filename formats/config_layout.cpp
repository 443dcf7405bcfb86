#include "formats/config_layout.h"

#include <cstring>
#include <initializer_list>

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

bool IsRefusedInFileName(char16_t c) { return c < 0x20 || (c < 0x80 && std::strchr("<>:\"/\\|?*", c)); }

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9: "<name>.ime" would open a device.
bool IsDeviceName(const char16_t* name, size_t length)
{
    if (length < 3 || length > 4) return false;
    char base[5] = {};
    for (size_t i = 0; i < length; ++i) {
        char16_t c = LowerAscii(name[i]);
        if (c >= 0x80) return false;
        base[i] = static_cast<char>(c);
    }
    for (const char* device : {"con", "prn", "aux", "nul"})
        if (std::strcmp(base, device) == 0) return true;
    return length == 4 && (std::strncmp(base, "com", 3) == 0 || std::strncmp(base, "lpt", 3) == 0) &&
           base[3] >= '1' && base[3] <= '9';
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
    return ImeNameProblem(image.data + product.offset + kImeName, kImeNameChars);
}

const char* ImeNameProblem(const uint8_t* slot, size_t chars)
{
    if (!slot || chars == 0) return "the IME name is empty";
    char16_t name[product_field::kImeNameChars] = {};
    size_t length = 0;
    while (length < chars && length < product_field::kImeNameChars && GetLe16(slot + 2 * length) != 0) {
        name[length] = GetLe16(slot + 2 * length);
        ++length;
    }
    if (length == 0) return "the IME name is empty";
    if (length == chars || length == product_field::kImeNameChars) return "the IME name has no terminator in its slot";
    for (size_t i = 0; i < length; ++i) {
        if (IsRefusedInFileName(name[i]))
            return "the IME name holds a separator or a character Windows does not allow in a file name";
        if (name[i] == u'.' && i + 1 < length && name[i + 1] == u'.') return "the IME name holds \"..\"";
    }
    for (char16_t end : {name[0], name[length - 1]})
        if (end == u'.' || end == u' ') return "the IME name begins or ends with a dot or blank";
    size_t base = 0;
    while (base < length && name[base] != u'.') ++base;
    if (IsDeviceName(name, base)) return "the IME name is a Windows device name";
    // The data folder <CommonAppData>\ZerdaIME3\<IME name> would be the setup's log folder.
    static const char16_t kLogs[] = u"logs";
    bool logs = length == 4;
    for (size_t i = 0; logs && i < 4; ++i) logs = LowerAscii(name[i]) == kLogs[i];
    if (logs) return "the IME name is Logs, the folder of the setup's logs";
    return nullptr;
}

}  // namespace config
}  // namespace formats
